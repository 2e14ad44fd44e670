// What the page shows of its tree, and the ways about it: the map, the crumbs, the list, the details, the table of kinds.

// What the map shows: a directory's entries from `start` on, with its rest.
let view = { dir: root, start: 0 };
let drawn = [];       // every tile drawn: { item, parent: index of the frame it lies in, or -1 }
let selected = -1;    // index into drawn of the selected entry of the view
let hovered = -1;
const rowOf = new Map();  // item -> its row in the list
const map = document.getElementById("map");
const list = document.getElementById("list");
const info = document.getElementById("info");

function human(n) {
  const units = ["B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"];
  let u = 0;
  while (n >= 1024 && u < units.length - 1) n /= 1024, u++;
  return (u && n < 10 ? n.toFixed(1) : Math.round(n)) + " " + units[u];
}
const escapeHtml = s => s.replace(/[&<>"]/g, c => "&#" + c.charCodeAt(0) + ";");

// The entries of (dir, start) as tiles of at least MIN_AREA in `area`, the
// others summed in one last item.
function entries(dir, start, area) {
  const kids = dir.children, total = dir.suffix[start], items = [];
  let k = start;
  while (k < kids.length && total > 0 && kids[k].size / total * area >= MIN_AREA) items.push(kids[k++]);
  if (k < kids.length) items.push(moreItem(dir, k));
  else if (dir.rest) items.push(dir.rest);
  return items;
}

function moreItem(dir, start) {
  const count = dir.children.length - start + (dir.rest ? dir.rest.count : 0);
  return { kind: MORE, dir, start, parent: dir, count, size: dir.suffix[start], name: count + " smaller items" };
}

// The sums a "smaller items" tile shows, made when it is shown.
function sumMore(more) {
  const items = more.dir.children.slice(more.start).concat(more.dir.rest ? [more.dir.rest] : []);
  for (const key of ["alloc", "apparent", "files"]) more[key] = items.reduce((sum, item) => sum + item[key], 0);
}

function layout(dir, start, x0, y0, x1, y1, parent, html) {
  const items = entries(dir, start, (x1 - x0) * (y1 - y0));
  const rects = squarify(items.map(item => item.size), x0, y0, x1, y1);
  items.forEach((item, i) => tile(item, rects.subarray(4 * i, 4 * i + 4), parent, html));
}

function tile(item, [x0, y0, x1, y1], parent, html) {
  const i = drawn.length, w = x1 - x0, h = y1 - y0;
  drawn.push({ item, parent });
  let cls = "t", style = `left:${x0}px;top:${y0}px;width:${w}px;height:${h}px`;
  if (item.kind === FILE) {
    const { group, ext } = kindOfName(item.name);
    cls += " g" + group;
    if (chosenKind && (chosenKind.ext === undefined ? chosenKind.group === group : chosenKind.ext === ext)) cls += " k";
    const slack = (item.alloc - item.apparent) / Math.max(item.alloc, item.apparent);
    if (slack > 0) style += `;background-image:linear-gradient(to top,#0006 ${slack * 100}%,#0000 ${slack * 100}%)`;
  } else {
    cls += item.kind === OPEN_DIR ? " d" : item.kind === WHOLE_DIR ? " w" : item.kind === MORE ? " r" : " s";
  }
  if (item.error) cls += " e";
  let label = w >= 30 && h >= 13 ? escapeHtml(item.name) : "";
  if (label && w >= 60) label += (item.kind === OPEN_DIR ? " · " : h >= 28 ? "<br>" : "\u00a0") + `<small>${human(item.size)}</small>`;
  html.push(`<div class="${cls}" data-i="${i}" style="${style}">${label}</div>`);
  if (item.kind === OPEN_DIR && w > 4 * PAD + 4 && h > 4 * PAD + 4) {
    layout(item, 0, x0 + PAD, y0 + (h >= 2 * HEADER + 4 && w >= 40 ? HEADER : PAD), x1 - PAD, y1 - PAD, i, html);
  }
}

let mapSize = "";
function render() {
  drawn = [];
  hovered = selected = -1;
  renderCrumbs();
  renderList();
  showInfo(null);
  const html = [];
  mapSize = map.clientWidth + "x" + map.clientHeight;
  const box = map.getBoundingClientRect();
  layout(view.dir, view.start, 0, 0, box.width, box.height, -1, html);
  map.classList.toggle("kind", chosenKind !== null);
  map.innerHTML = html.join("") || '<p style="text-align:center">Nothing here takes any space.</p>';
}

// The path of an item from the root, as names.
function pathOf(item) {
  const names = [];
  for (let at = item; at; at = at.parent) names.unshift(at.name);
  return names;
}

function viewItem() { return view.start ? moreItem(view.dir, view.start) : view.dir; }

function renderCrumbs() {
  const crumbs = document.getElementById("crumbs");
  crumbs.textContent = "";
  const chain = [];
  for (let at = view.dir; at; at = at.parent) chain.unshift({ dir: at, start: 0 });
  if (view.start) chain.push(view);
  chain.forEach((v, i) => {
    if (i) crumbs.append(Object.assign(document.createElement("span"), { textContent: "›" }));
    const b = document.createElement("button");
    b.textContent = v.start ? moreItem(v.dir, v.start).name : v.dir.name;
    b.onclick = () => go(v);
    crumbs.append(b);
  });
}

function renderList() {
  list.textContent = "";
  rowOf.clear();
  const top = viewItem();
  const items = view.dir.children.slice(view.start, view.start + LIST_ROWS);
  const rest = view.dir.children.length - view.start - items.length;
  if (rest > 0) items.push(moreItem(view.dir, view.start + LIST_ROWS));
  else if (view.dir.rest) items.push(view.dir.rest);
  addRows(items, 0, top.size, null);
}

function addRows(items, depth, total, after) {
  let at = after;
  for (const item of items) {
    const row = document.createElement("div");
    row.className = "row";
    row.setAttribute("role", "treeitem");
    row.style.paddingLeft = depth * 14 + "px";
    const share = total > 0 ? item.size / total : 0;
    row.innerHTML = `<span class="tog">${item.kind === OPEN_DIR ? "▸" : ""}</span><span class="nm"></span>` +
      `<span class="sz">${human(item.size)}</span><span class="bar"><i style="width:${share * 100}%"></i></span>` +
      `<span class="pc">${(share * 100).toFixed(1)}%</span>`;
    row.querySelector(".nm").textContent = item.name;
    row.onmouseenter = () => { highlight(drawn.findIndex(d => d.item === item)); showInfo(item); };
    row.onclick = e => e.target.className === "tog" ? toggle(item, row, depth) : open(item);
    if (at) at.after(row); else list.append(row);
    at = row;
    rowOf.set(item, row);
  }
  return at;
}

function toggle(dir, row, depth) {
  const tog = row.querySelector(".tog");
  if (tog.textContent === "▾") {
    for (let next = row.nextSibling; next && parseInt(next.style.paddingLeft) > depth * 14; next = row.nextSibling) next.remove();
    tog.textContent = "▸";
    return;
  }
  tog.textContent = "▾";
  const items = dir.children.slice(0, LIST_ROWS);
  if (dir.children.length > LIST_ROWS) items.push(moreItem(dir, LIST_ROWS));
  else if (dir.rest) items.push(dir.rest);
  addRows(items, depth + 1, dir.size, row);
}

function showInfo(item) {
  const top = viewItem();
  if (!item) item = top;
  if (item.kind === MORE && item.files === undefined) sumMore(item);
  const share = n => (n > 0 ? (100 * item.size / n).toFixed(1) : "0") + "%";
  const slack = item.alloc - item.apparent;
  info.innerHTML = `<b></b>${human(item.size)} ${byApparent ? "apparent" : "allocated"}` +
    ` (${human(byApparent ? item.alloc : item.apparent)} ${byApparent ? "allocated" : "apparent"}` +
    `${slack > 0 ? ", " + human(slack) + " slack" : ""}) · ${share(top.size)} of this view · ${share(root.size)} of all` +
    ` · ${item.files.toLocaleString("en")} ${item.files === 1 ? "file" : "files"}` +
    (item.error ? " · <span style=color:#c00>not read whole</span>" : "") +
    (item.kind === WHOLE_DIR ? " · its contents are not in this page" : "") +
    (item.kind === SMALLER || item.kind === LEFT_OUT ? " · summed: this page does not hold them, spacemap -f on a scan lists them" : "");
  // The view itself is named by the crumbs above.
  if (item !== top) info.querySelector("b").textContent = pathOf(item).join("/").replace(/^\/\//, "/");
}

function highlight(i) {
  if (hovered >= 0) { map.querySelector(`[data-i="${hovered}"]`)?.classList.remove("hl"); }
  for (const row of list.querySelectorAll(".row.hl")) row.classList.remove("hl");
  hovered = i;
  if (i < 0) return;
  map.querySelector(`[data-i="${i}"]`)?.classList.add("hl");
  for (let at = drawn[i].item; at; at = at.parent) {
    const row = rowOf.get(at);
    if (row) { row.classList.add("hl"); row.scrollIntoView({ block: "nearest" }); break; }
  }
}

// Opens an item as the view, if it has entries to show.
function open(item) {
  if (item.kind === OPEN_DIR) go({ dir: item, start: 0 });
  else if (item.kind === MORE) go({ dir: item.dir, start: item.start });
}

function go(v) {
  view = v;
  const hash = hashOf(v);
  if (location.hash !== hash) location.hash = hash;
  render();
}

function back() {
  if (view.start) go({ dir: view.dir, start: 0 });
  else if (view.dir.parent) go({ dir: view.dir.parent, start: 0 });
}

// The fragment names the view: each directory below the root, and "@N" when
// it shows a directory's entries from the Nth on (a literal "@" in a name is
// always escaped).
function hashOf(v) {
  const names = [];
  for (let at = v.dir; at.parent; at = at.parent) names.unshift(encodeURIComponent(at.name));
  if (v.start) names.push("@" + v.start);
  return "#/" + names.join("/");
}

// A fragment that names no view, typed or cut short, shows as much of it
// as there is.
function viewOfHash(hash) {
  let dir = root, start = 0;
  const decode = part => { try { return decodeURIComponent(part); } catch { return null; } };
  for (const part of hash.replace(/^#\/?/, "").split("/").filter(Boolean)) {
    if (part[0] === "@") { start = Math.min(+part.slice(1) || 0, dir.children.length); break; }
    const name = decode(part);
    const next = dir.children.find(c => c.kind === OPEN_DIR && c.name === name);
    if (!next) break;
    dir = next;
  }
  return { dir, start };
}

function select(i) {
  map.querySelector(".t.sel")?.classList.remove("sel");
  list.querySelector(".row.sel")?.classList.remove("sel");
  selected = i;
  map.querySelector(`[data-i="${i}"]`).classList.add("sel");
  const row = rowOf.get(drawn[i].item);
  if (row) { row.classList.add("sel"); row.scrollIntoView({ block: "nearest" }); }
  showInfo(drawn[i].item);
}

map.addEventListener("mouseover", e => {
  const t = e.target.closest(".t");
  if (t) { highlight(+t.dataset.i); showInfo(drawn[+t.dataset.i].item); }
});
map.addEventListener("mouseleave", () => { highlight(-1); showInfo(selected >= 0 ? drawn[selected].item : null); });
map.addEventListener("click", e => {
  const t = e.target.closest(".t");
  if (!t) return;
  // A file opens the directory it lies in, a directory itself; a sum of
  // entries the page does not hold has nothing to open, and says so.
  let i = +t.dataset.i;
  if (drawn[i].item.kind === SMALLER || drawn[i].item.kind === LEFT_OUT) return select(i);
  while (i >= 0 && drawn[i].item.kind !== OPEN_DIR && drawn[i].item.kind !== MORE) i = drawn[i].parent;
  if (i >= 0) open(drawn[i].item);
  map.focus();
});
document.addEventListener("keydown", e => {
  if (e.altKey || e.ctrlKey || e.metaKey) return;
  const tops = [];
  drawn.forEach((d, i) => d.parent < 0 && tops.push(i));
  const at = tops.indexOf(selected);
  if (!tops.length && e.key !== "Backspace") return;
  if (e.key === "ArrowDown" || e.key === "ArrowRight") select(tops[Math.min(at + 1, tops.length - 1)]);
  else if (e.key === "ArrowUp" || e.key === "ArrowLeft") select(tops[Math.max(at - 1, 0)]);
  else if (e.key === "Enter" && selected >= 0) open(drawn[selected].item);
  else if (e.key === "Backspace") back();
  else return;
  e.preventDefault();
});
addEventListener("hashchange", () => {
  if (location.hash !== hashOf(view)) { view = viewOfHash(location.hash); render(); }
});
// The map is drawn again when its size changes: a turned phone, a window
// resized, a breadcrumb that takes one more line.
new ResizeObserver(() => mapSize !== map.clientWidth + "x" + map.clientHeight && render()).observe(map);

document.title = data.title + " · treemap";
// The crumbs name the scanned path; the heading tells what it holds.
document.getElementById("title").innerHTML = `<small>${human(root.size)} ${data.by}` +
  ` · ${root.files.toLocaleString("en")} files</small>`;
document.getElementById("legend").innerHTML = GROUPS.map(([name], g) => `<span><i class="sw g${g}"></i>${name}</span>`).join("") +
  `<span><i class="sw slack"></i>Slack: allocated, not used</span><span><i class="sw r"></i>Smaller items: click to open</span>` +
  `<span><i class="sw s"></i>Small items, summed: not in this page</span>` +
  `<span><i class="sw w"></i>Directory not in this page</span>` +
  `<span><i class="sw e"></i>Not read whole</span>`;
// The table of kinds: each group with the sum of its extensions, and its
// largest extensions below it. A click shows that kind's files on the map.
let chosenKind = null;
function renderKinds() {
  const table = document.getElementById("kinds"), groups = new Map();
  const sizeOf = k => byApparent ? k[3] : k[2];
  for (const k of data.kinds) {
    if (!groups.has(k[0])) groups.set(k[0], { group: k[0], size: 0, files: 0, exts: [] });
    const g = groups.get(k[0]);
    g.size += sizeOf(k), g.files += k[4], g.exts.push(k);
  }
  const rows = [];
  const add = (kind, cls, label, size, files) => {
    const tr = document.createElement("tr");
    tr.className = cls;
    const share = root.size > 0 ? 100 * size / root.size : 0;
    tr.innerHTML = `<td></td><td>${human(size)}</td><td>${share.toFixed(1)}%</td>` +
      `<td>${files.toLocaleString("en")} ${files === 1 ? "file" : "files"}</td>`;
    tr.firstChild.textContent = label;
    tr.onclick = () => {
      const same = chosenKind && chosenKind.group === kind.group && chosenKind.ext === kind.ext;
      chosenKind = same ? null : kind;
      for (const r of table.rows) r.classList.toggle("on", r === tr && !same);
      render();
    };
    rows.push(tr);
  };
  for (const g of [...groups.values()].sort((a, b) => b.size - a.size)) {
    add({ group: g.group }, "", GROUPS[g.group][0], g.size, g.files);
    for (const k of g.exts.slice(0, 3))
      add({ group: g.group, ext: k[1].toLowerCase() }, "ext", k[1] ? "." + k[1] : "(no extension)", sizeOf(k), k[4]);
  }
  table.append(...rows);
}

function renderLargest() {
  if (!data.largest) return;
  const box = document.getElementById("largest"), ol = box.querySelector("ol");
  box.hidden = false;
  for (const [path, size] of data.largest) {
    const li = document.createElement("li");
    li.textContent = `${human(size)}  ${path}`;
    ol.append(li);
  }
}

renderKinds();
renderLargest();
view = viewOfHash(location.hash);
render();
