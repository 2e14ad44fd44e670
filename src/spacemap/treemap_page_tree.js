// The page's data read into a tree of entries, the kinds of files, and the squarified layout.
"use strict";
// Tiles smaller than this, in square pixels, are summed in one "smaller
// items" tile per directory, which opens to show them.
const MIN_AREA = 64;
const PAD = 2, HEADER = 14, LIST_ROWS = 200;
// The data; with it the record types, as the program numbers them, and the
// groups of kinds of files, as it defines them.
const data = JSON.parse(document.getElementById("page-data").textContent);
const { FILE, OPEN_DIR, WHOLE_DIR, SMALLER, CLOSE, LEFT_OUT, READ_ERROR } = data.records;
// A "smaller items" tile made here, for entries the page holds but the map
// had no room to draw; it opens as a view of its own. No record is a string.
const MORE = "more";
const GROUPS = data.groups;
const groupOf = new Map();
GROUPS.forEach(([, exts], g) => exts.split(" ").forEach(e => e && groupOf.set(e, g)));
// The kind of a file by its extension, as the program tells it: a version
// after it passed over (libfoo.so.1.2 is a library); a name that starts with
// its only dot has none.
function kindOfName(name) {
  const parts = name.toLowerCase().split(".");
  while (parts.length > 2 && /^\d+$/.test(parts[parts.length - 1])) parts.pop();
  const ext = parts.length > 1 && parts[0] ? parts[parts.length - 1] : "";
  return { ext, group: groupOf.get(ext) || 0 };
}

// Bruls, Huizing and van Wijk's squarified layout: each row lies along the
// shorter side of the space left and takes values, largest first, while its
// worst aspect ratio does not get worse. Returns x0, y0, x1, y1 per value.
function squarify(values, x0, y0, x1, y1) {
  const n = values.length, rects = new Float64Array(4 * n);
  let remaining = 0;
  for (const v of values) remaining += v;
  for (let i = 0; i < n;) {
    const w = x1 - x0, h = y1 - y0;
    // A row of values summing to s, the smallest lo and the largest hi, has
    // the worst ratio max(beta / lo, hi / beta), beta = s * s * unit.
    const unit = Math.max(w / h, h / w) / remaining;
    let j = i, sum = 0, lo = Infinity, hi = 0, worst = Infinity;
    for (; j < n; j++) {
      const v = values[j], s = sum + v, beta = s * s * unit;
      const ratio = Math.max(Math.max(hi, v) / beta, beta / Math.min(lo, v));
      if (j > i && ratio > worst) break;
      sum = s, lo = Math.min(lo, v), hi = Math.max(hi, v), worst = ratio;
    }
    const share = remaining > 0 ? sum / remaining : 1;
    const across = w < h;  // the row is a strip across the top, else a column at the left
    const end = j === n ? (across ? y1 : x1) : (across ? y0 + h * share : x0 + w * share);
    let at = across ? x0 : y0;
    for (let k = i; k < j; k++) {
      const next = k === j - 1 ? (across ? x1 : y1) : at + (across ? w : h) * (sum > 0 ? values[k] / sum : 0);
      rects.set(across ? [at, y0, next, end] : [x0, at, end, next], 4 * k);
      at = next;
    }
    if (across) y0 = end; else x0 = end;
    remaining -= sum;
    i = j;
  }
  return rects;
}

// What the entries of a directory from the kth on hold, the rest included,
// for every k: each view of a directory draws from such a sum.
function sumSuffixes(dir) {
  const kids = dir.children, suffix = dir.suffix = new Float64Array(kids.length + 1);
  suffix[kids.length] = dir.rest ? dir.rest.size : 0;
  for (let k = kids.length - 1; k >= 0; k--) suffix[k] = suffix[k + 1] + kids[k].size;
}

// The tree, read from the flat records without recursion.
const byApparent = data.by === "apparent";
function readTree(items) {
  const stack = [];
  let root = null;
  for (let i = 0; i < items.length;) {
    const type = items[i++];
    if (type === CLOSE) { sumSuffixes(stack.pop()); continue; }
    const kind = type & ~READ_ERROR, parent = stack[stack.length - 1] || null;
    const node = { kind, parent, error: (type & READ_ERROR) !== 0 };
    if (kind === SMALLER || kind === LEFT_OUT) {
      [node.count, node.alloc, node.apparent, node.files] = items.slice(i, i += 4);
      node.name = node.count + (kind === SMALLER ? " small items, summed" : " items left out of this page");
      parent.rest = node;
    } else {
      [node.name, node.alloc, node.apparent] = items.slice(i, i += 3);
      node.files = kind === FILE ? 1 : items[i++];
      if (parent) parent.children.push(node); else root = node;
      if (kind === OPEN_DIR) { node.children = []; stack.push(node); }
    }
    node.size = byApparent ? node.apparent : node.alloc;
  }
  return root;
}
// A page of one file draws it as the one entry of a directory.
function rootOf(top) {
  if (top.kind === OPEN_DIR) return top;
  top.parent = Object.assign({}, top, { kind: OPEN_DIR, children: [top] });
  sumSuffixes(top.parent);
  return top.parent;
}
const root = rootOf(readTree(data.items));
