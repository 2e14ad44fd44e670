"""spacemap's treemap page in headless Chromium, on a tree made here, against
a Python walk of it and spacemap's own view: tiles inside their frames, without overlap, in proportion
to their sizes; zoom by click and keyboard, the way back, the place kept in
the fragment; no request beyond the page itself; and the layout against
d3-hierarchy's squarified treemap, the reference in the field."""
import os, re, subprocess, sys, tempfile, unittest
from pathlib import Path
from urllib.parse import quote

import cdp

SPACEMAP = os.environ.get("SPACEMAP_EXE")
os.environ.pop("SPACEMAP", None)  # defaults of the one running the suite are not the page's
D3 = Path("/usr/share/nodejs/d3-hierarchy/dist/d3-hierarchy.js")
ODD = "100% @home #1"  # characters that the fragment must escape
TILES = """[...document.querySelectorAll('#map .t')].map(e => { const d = drawn[+e.dataset.i],
  r = e.getBoundingClientRect(); return [r.x, r.y, r.width, r.height, d.parent, d.item.size, d.item.kind, pathOf(d.item)]; })"""
CRUMBS = "[...document.querySelectorAll('#crumbs button')].map(e => e.textContent)"


def make_tree(top):
    files = {"disc.iso": 3_000_000, f"{ODD}/photo.jpg": 600_000, f"{ODD}/deep/er/est.tar": 700_000,
             f"{ODD}/many/big": 20_000_000, "empty": 0, "empty dir/": 0}
    files.update({f"src/part{i}.{['c', 'py', 'png', 'pdf', 'so'][i % 5]}": 1000 * (i + 1) ** 2 for i in range(30)})
    files.update({f"{ODD}/many/n{i}": 10 + i % 7 for i in range(1500)})  # each too small to draw
    for name, size in files.items():
        (top / name).parent.mkdir(parents=True, exist_ok=True)
        if not name.endswith("/"):
            (top / name).write_bytes(os.urandom(size))
    with open(os.fsencode(top) + b"/odd\xff\xfe<!--<script>\nname", "wb") as f:
        f.truncate(90_000)  # sparse: more bytes than blocks


def model(top):
    """Sizes by path below the root, as du counts them (no file here has two
    names), with the page's names."""
    def show(raw):
        return re.sub(r"[\x00-\x1f\x7f]", lambda m: "\\x%02x" % ord(m.group()), raw.decode("utf-8", "backslashreplace"))
    sizes = {}
    for dir, dirs, files in os.walk(os.fsencode(top), topdown=False):
        rel = tuple(show(part) for part in Path(os.fsdecode(dir)).relative_to(top).parts for part in [os.fsencode(part)])
        st = os.lstat(dir)
        sizes[rel] = [st.st_blocks * 512, st.st_size]
        for name in files:
            st = os.lstat(os.path.join(dir, name))
            sizes[rel + (show(name),)] = [st.st_blocks * 512, st.st_size]
        for name in dirs + files:
            sizes[rel] = [t + s for t, s in zip(sizes[rel], sizes[rel + (show(name),)])]
    return sizes


@unittest.skipUnless(SPACEMAP, "SPACEMAP_EXE names no spacemap")
class TreemapPageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.TemporaryDirectory()
        cls.top = Path(cls.temp.name) / "tree"
        make_tree(cls.top)
        cls.sizes, cls.pages = model(cls.top), {}
        for by, flags in (("allocated", []), ("apparent", ["--apparent-size"])):
            page = Path(cls.temp.name) / f"{by}.html"
            subprocess.run([SPACEMAP, *flags, "--html", page, cls.top], check=True)
            cls.pages[by] = page.as_uri()
        cls.browser = cdp.Browser()

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        cls.temp.cleanup()

    def check_tiles(self, by, what):
        tiles = self.browser.eval(TILES)
        frames = {-1: self.browser.eval("(r => [r.x, r.y, r.width, r.height])(map.getBoundingClientRect())")}
        self.assertGreater(len(tiles), 5, what)
        siblings = {}
        for i, (x, y, w, h, parent, size, kind, path) in enumerate(tiles):
            if kind in (0, 1, 2):  # an entry of the tree, not a sum of smaller ones
                self.assertEqual(size, self.sizes[tuple(path[1:])][by == "apparent"], (what, path))
            frames[i] = [x, y, w, h]
            siblings.setdefault(parent, []).append((x, y, w, h, size, path))
        for parent, group in siblings.items():
            fx, fy, fw, fh = frames[parent]
            areas, sizes = sum(t[2] * t[3] for t in group), sum(t[4] for t in group)
            if parent == -1:
                self.assertAlmostEqual(areas, fw * fh, delta=fw * fh * 1e-3, msg=what)
            for n, (x, y, w, h, size, path) in enumerate(group):
                where = (what, path)
                self.assertTrue(fx - 1e-3 <= x <= x + w <= fx + fw + 1e-3 and fy - 1e-3 <= y <= y + h <= fy + fh + 1e-3, where)
                for ox, oy, ow, oh, _, other in group[n + 1:]:
                    overlap = max(0, min(x + w, ox + ow) - max(x, ox)) * max(0, min(y + h, oy + oh) - max(y, oy))
                    self.assertLess(overlap, 1e-3, (where, other))
                if sizes:  # Chromium places boxes on a grid of 1/64 pixel
                    self.assertAlmostEqual(w * h, areas * size / sizes, delta=0.01 * areas * size / sizes + (w + h) / 64, msg=where)

    def test_tiles_lie_in_their_frames_in_proportion_to_sizes(self):
        for by, width, height, fragment in [("allocated", 1000, 700, ""), ("apparent", 1000, 700, ""),
                                            ("allocated", 390, 740, ""), ("allocated", 1000, 700, "#/" + quote(ODD))]:
            self.browser.load("about:blank", width, height)
            self.browser.load(self.pages[by] + fragment, width, height)
            self.check_tiles(by, (by, width, fragment))
            self.assertEqual(self.browser.eval("view.dir.name"), ODD if fragment else self.browser.eval("root.name"))
            list_box = self.browser.eval("(r => [r.width, r.height])(list.getBoundingClientRect())")
            self.assertTrue(list_box[0] > 300 and list_box[1] > 50, (by, width, fragment, list_box))

    def test_import_gives_the_same_page_whose_totals_match_the_view(self):
        scan = Path(self.temp.name) / "scan.json"
        subprocess.run([SPACEMAP, "-o", scan, self.top], check=True)
        imported = subprocess.run([SPACEMAP, "-f", scan, "--html", "-"], check=True, capture_output=True).stdout
        self.assertEqual(imported, (Path(self.temp.name) / "allocated.html").read_bytes())
        files = sum(len(names) for _, _, names in os.walk(self.top))
        for by, flags in (("allocated", []), ("apparent", ["--apparent-size"])):
            view = subprocess.run([SPACEMAP, "-b", "-d", "0", *flags, self.top], check=True, capture_output=True)
            self.browser.load(self.pages[by], 1000, 700)
            self.assertEqual(self.browser.eval("[root.size, root.files]"), [int(view.stdout.split()[0]), files], by)

    def test_click_and_keys_zoom_the_fragment_keeps_the_place_and_nothing_is_fetched(self):
        b, url = self.browser, self.pages["allocated"]
        b.load(url, 1000, 700)

        def tile_edge(condition):  # on its own edge, not a tile inside
            return b.eval(f"""(r => [r.x + 1, r.y + 1])(map.querySelector(
              `[data-i="${{drawn.findIndex(d => {condition})}}"]`).getBoundingClientRect())""")

        x, y = tile_edge(f"d.item.name === '{ODD}'")
        b.send("Input.dispatchMouseEvent", type="mouseMoved", x=x + 30, y=y + 30)  # over a tile inside it
        self.assertEqual(b.eval("list.querySelector('.row.hl .nm').textContent"), ODD)
        self.assertRegex(b.eval("info.textContent"), rf"/{re.escape(ODD)}/many/big19 MiB allocated .*· [\d.]+% of all · 1 file$")
        b.click(x, y)
        self.assertEqual(b.eval("location.hash"), "#/100%25%20%40home%20%231")
        b.click(*tile_edge("d.item.kind === MORE"))  # the files of many/, each too small at this size
        self.assertRegex(b.eval("location.hash"), r"^#/100%25%20%40home%20%231/many/@\d+$")
        self.assertRegex(b.eval(CRUMBS)[-1], r"^\d+ smaller items$")
        self.assertEqual(set(b.eval("drawn.map(d => d.item.kind)")) - {6}, {0})
        fragment = b.eval("location.hash")
        b.load("about:blank", 1000, 700)
        b.load(url + fragment, 1000, 700)
        self.assertEqual(b.eval(CRUMBS)[1:3], [ODD, "many"])
        b.click(*b.eval("(r => [r.x + 2, r.y + 2])(document.querySelector('#crumbs button').getBoundingClientRect())"))
        self.assertEqual((b.eval("location.hash"), len(b.eval(CRUMBS))), ("#/", 1))

        for _ in range(2):  # to the second largest, a directory
            b.key("ArrowDown", 40)
        name = b.eval("drawn[selected].item.name")
        b.key("Enter", 13)
        self.assertEqual(b.eval(CRUMBS), [b.eval("root.name"), name])
        b.key("Backspace", 8)
        self.assertEqual(len(b.eval(CRUMBS)), 1)

        requests = {e["params"]["request"]["url"] for e in b.events if e.get("method") == "Network.requestWillBeSent"}
        self.assertEqual({u.split("#")[0] for u in requests} - {"about:blank"}, {url})

    def test_summed_tiles_say_what_they_are_the_path_shows_once_and_kinds_by_name(self):
        # Over 100,000 files the page sums, per directory, the entries too small to hold.
        items = [b'{"name":"huge","asize":1000000000,"dsize":1000000000}']
        for d in range(10):
            items.append(b'[{"name":"d%d"},' % d + b",".join(b'{"name":"f%d","asize":1000,"dsize":4096}' % i
                                                          for i in range(10001)) + b"]")
        scan = b'[1,2,{},[{"name":"/big"},' + b",".join(items) + b"]]"
        page = Path(self.temp.name) / "big.html"
        subprocess.run([SPACEMAP, "-f", "-", "--html", page], input=scan, check=True)
        b = self.browser
        b.load(page.as_uri(), 1000, 700)
        self.assertEqual((b.eval("document.getElementById('title').textContent").count("/big"),
                          b.eval("document.querySelector('header').textContent").count("/big")), (0, 1))
        summed = b.eval("drawn.findIndex(d => d.item.kind === SMALLER)")
        self.assertGreaterEqual(summed, 0)
        tile = f"map.querySelector('[data-i=\"{summed}\"]')"
        self.assertEqual(b.eval(f"[{tile}.classList.contains('s'), getComputedStyle({tile}).cursor]"), [True, "default"])
        b.click(*b.eval(f"(r => [r.x + r.width / 2, r.y + r.height / 2])({tile}.getBoundingClientRect())"))
        self.assertEqual(b.eval("location.hash"), "")
        self.assertIn("this page does not hold them", b.eval("info.textContent"))
        kinds = b.eval("""["unit.pas", "unit.pp", "defs.inc", "app.mo", "libz.so.1.2.13", "x.PNG", ".bashrc", "v.1"]
          .map(n => GROUPS[kindOfName(n).group][0])""")
        self.assertEqual(kinds, ["Source and text"] * 3 + ["Data and databases", "Programs and libraries", "Images",
                                                            "Other", "Other"])

    def test_a_kind_clicked_in_its_table_picks_out_its_files(self):
        b = self.browser
        b.load(self.pages["allocated"], 1000, 700)
        names = "[...map.querySelectorAll('.t%s')].map(e => drawn[+e.dataset.i].item).filter(i => i.kind === FILE)" \
                ".map(i => i.name)"
        for label, suffixes in (("Images", (".png", ".jpg")), (".png", (".png",))):
            row = "[...document.querySelectorAll('#kinds tr')].find(r => r.cells[0].textContent === %r)" % label
            click = f"(r => [r.x + 5, r.y + 5])(({row}.scrollIntoView(), {row}).getBoundingClientRect())"
            b.click(*b.eval(click))
            self.assertEqual(sorted(b.eval(names % ".k")), sorted(n for n in b.eval(names % "") if n.endswith(suffixes)))
            self.assertGreater(len(b.eval(names % ".k")), 0, label)
            b.click(*b.eval(click))
            self.assertEqual(b.eval(names % ".k"), [], label)

    def test_the_largest_files_are_listed_when_asked(self):
        page = Path(self.temp.name) / "largest.html"
        subprocess.run([SPACEMAP, "--largest", "3", "--html", page, self.top], check=True)
        self.browser.load(page.as_uri(), 1000, 700)
        files = sorted(((s[0], "/".join(p)) for p, s in self.sizes.items()
                        if p and (self.top / Path(*p)).is_file()), key=lambda f: (-f[0], f[1]))[:3]
        self.assertEqual(self.browser.eval("data.largest"), [[p, s] for s, p in files])

    @unittest.skipUnless(D3.exists(), "no d3-hierarchy (Debian's node-d3-hierarchy)")
    def test_layout_is_d3_hierarchys_squarified_treemap(self):
        self.browser.load(self.pages["allocated"], 400, 300)
        self.browser.eval(D3.read_text())
        worst = self.browser.eval("""(() => { let seed = 7, worst = 0;
          const random = () => (seed = seed * 16807 % 2147483647) / 2147483647;
          for (let c = 0; c < 500; c++) {
            const values = Array.from({ length: 1 + random() * 60 }, () => random() ** (1 + c % 6) * 1e6 + 1).sort((a, b) => b - a);
            if (c % 4 === 0) values.fill(values[0]);  // ties
            const w = 1 + random() * 2000, h = 1 + random() * 2000, ours = squarify(values, 5, 7, 5 + w, 7 + h);
            const parent = { value: values.reduce((a, b) => a + b), children: values.map(value => ({ value })) };
            d3.treemapSquarify.ratio(1)(parent, 5, 7, 5 + w, 7 + h);
            parent.children.forEach((n, i) => [n.x0, n.y0, n.x1, n.y1].forEach((v, k) =>
              worst = Math.max(worst, Math.abs(v - ours[4 * i + k]) / (w + h))));
          }
          return worst; })()""")
        self.assertLess(worst, 1e-9)


if __name__ == "__main__":
    if not cdp.CHROMIUM:
        print("skipped: no chromium on PATH (Debian's chromium)", file=sys.stderr)
        sys.exit(77)
    unittest.main()
