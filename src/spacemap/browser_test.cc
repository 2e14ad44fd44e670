#include "spacemap/browser.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>

namespace {

// A scan held as a map: id -> entry and children; deletions recorded.
class FakeModel : public BrowseModel {
 public:
  EntryId Add(EntryId parent, const std::string& name, uint64_t size, bool dir = false) {
    BrowseEntry entry;
    entry.id = entries_.size() + 1;
    entry.name = names_.emplace_back(name);
    entry.dir = dir;
    entry.size[0] = entry.size[1] = size;
    entries_[entry.id] = entry;
    children_[parent].push_back(entry.id);
    return entry.id;
  }
  BrowseEntry& At(EntryId id) { return entries_[id]; }

  EntryId Root() override { return 0; }
  BrowseEntry Describe(EntryId id) override {
    if (id == 0) {
      BrowseEntry root;
      root.name = "/start";
      root.dir = true;
      for (EntryId child : children_[0]) root.size[0] += entries_[child].size[0];
      return root;
    }
    return entries_[id];
  }
  void Children(EntryId dir, const Ordering& ordering, std::vector<EntryId>* children) override {
    *children = children_[dir];
    struct {
      FakeModel& m;
      uint64_t Size(EntryId id, SortKey key) const { return m.entries_[id].Size(key); }
      long double Growth(EntryId id, SortKey key) const {
        return static_cast<long double>(m.entries_[id].Size(key)) - m.entries_[id].OldSize(key);
      }
      std::string_view Name(EntryId id) const { return m.entries_[id].name; }
      uint64_t Items(EntryId id) const { return m.entries_[id].items; }
      std::optional<int64_t> Mtime(EntryId id) const { return m.entries_[id].mtime; }
    } fields{*this};
    SortIds(children, ordering, fields);
  }
  std::vector<std::string> Details(EntryId) override { return {}; }
  std::string Status(SortKey, Units) override { return "status"; }
  uint64_t Generation(EntryId) override { return generation_; }
  bool Comparison() const override { return comparison_; }
  std::string ReadOnly() const override { return ""; }
  std::string Remove(const std::vector<EntryId>& chain) override {
    removed_.push_back(chain);
    auto& siblings = children_[chain[chain.size() - 2]];
    siblings.erase(std::find(siblings.begin(), siblings.end(), chain.back()));
    ++generation_;
    return "";
  }
  std::string Refresh(const std::vector<EntryId>&) override { return ""; }
  std::string Export(const std::string&) override { return ""; }

  std::vector<std::vector<EntryId>> removed_;
  bool comparison_ = false;

 private:
  std::deque<std::string> names_;
  std::map<EntryId, BrowseEntry> entries_;
  std::map<EntryId, std::vector<EntryId>> children_;
  uint64_t generation_ = 0;
};

// The names of the entries on the screen, top down, '>' before the selected.
std::vector<std::string> Shown(Browser& browser, int rows = 20) {
  std::vector<std::string> names;
  std::vector<ScreenLine> lines = browser.Render(rows, 80);
  for (size_t row = 2; row + 1 < lines.size(); ++row) {
    const std::string& text = lines[row].text;
    size_t name = text.rfind("  ");
    if (name == std::string::npos || text.empty()) continue;
    std::string shown = text.substr(name + 2);
    names.push_back((lines[row].look == platform::Look::kReverse ? ">" : "") + shown);
  }
  return names;
}

void Press(Browser& browser, const std::string& keys) {
  for (char key : keys) browser.Press(key);
}

bool Shows(Browser& browser, const std::string& text) {
  std::vector<ScreenLine> lines = browser.Render(20, 80);
  return std::any_of(lines.begin(), lines.end(),
                     [&](const ScreenLine& line) { return line.text.find(text) != std::string::npos; });
}

TEST(BrowserTest, OrdersByEachKeyAndReversesOnTheSameKeyAgain) {
  FakeModel model;
  EntryId big = model.Add(0, "big", 300, true);
  EntryId small = model.Add(0, "small", 10);
  EntryId mid = model.Add(0, "mid", 100, true);
  model.At(big).items = 1;
  model.At(mid).items = 7;
  model.At(small).mtime = 30;
  model.At(mid).mtime = 20;
  model.At(big).mtime = 10;
  Browser browser(&model, Units::kBytes, SortKey::kDisk);
  struct {
    char key;
    std::vector<std::string> order;
  } cases[] = {
      {'n', {">big/", "mid/", "small"}}, {'n', {"small", "mid/", ">big/"}}, {'C', {"mid/", ">big/", "small"}},
      {'M', {"small", "mid/", ">big/"}}, {'M', {">big/", "mid/", "small"}}, {'s', {">big/", "mid/", "small"}},
  };
  for (const auto& c : cases) {
    browser.Press(c.key);
    EXPECT_EQ(Shown(browser), c.order) << c.key;
  }
}

TEST(BrowserTest, GoesUpToTheDirectoryItCameFrom) {
  FakeModel model;
  model.Add(0, "a", 300, true);
  EntryId b = model.Add(0, "b", 200, true);
  model.Add(b, "in\x1b[31mside\xff", 200);  // shown escaped: no text for the terminal to act on
  Browser browser(&model, Units::kBytes, SortKey::kDisk);
  Press(browser, "jl");
  EXPECT_EQ(Shown(browser), std::vector<std::string>{">in\\x1b[31mside\\xff"});
  browser.Press('l');  // a file does not open
  EXPECT_EQ(Shown(browser), std::vector<std::string>{">in\\x1b[31mside\\xff"});
  browser.Press('h');
  EXPECT_EQ(Shown(browser), (std::vector<std::string>{"a/", ">b/"}));
}

TEST(BrowserTest, PagesKeepTheSelectionOnTheScreen) {
  FakeModel model;
  for (int i = 0; i < 50; ++i) model.Add(0, "f" + std::to_string(100 + i), 1000 - i);
  Browser browser(&model, Units::kBytes, SortKey::kDisk);
  const int rows = 10;  // 7 entries a page
  struct {
    int key;
    std::string first, selected;
  } cases[] = {
      {platform::kKeyPageDown, "f101", "f107"}, {platform::kKeyEnd, "f143", "f149"},
      {platform::kKeyPageUp, "f142", "f142"},   {platform::kKeyHome, "f100", "f100"},
  };
  Shown(browser, rows);
  for (const auto& c : cases) {
    browser.Press(c.key);
    std::vector<std::string> shown = Shown(browser, rows);
    ASSERT_EQ(shown.size(), 7u);
    EXPECT_EQ(shown[0], (c.first == c.selected ? ">" : "") + c.first);
    EXPECT_NE(std::find(shown.begin(), shown.end(), ">" + c.selected), shown.end()) << c.selected;
  }
}

TEST(BrowserTest, DeletesMarkedEntriesOnceConfirmedAndNothingBelowAnotherTwice) {
  FakeModel model;
  EntryId dir = model.Add(0, "dir", 300, true);
  EntryId file = model.Add(0, "file", 100);
  model.Add(0, "kept", 50);
  model.Add(dir, "inner", 300);
  Browser browser(&model, Units::kBytes, SortKey::kDisk);
  Press(browser, "l ");  // inner, marked
  Press(browser, "h ");  // dir, marked, and the cursor on file
  Press(browser, " ");
  browser.Press('d');
  EXPECT_TRUE(Shows(browser, "Delete 2 marked entries (400)?"));
  browser.Press(platform::kKeyNone);  // a redraw while the walk runs
  browser.Press(platform::kKeyResize);
  browser.Press('n');
  EXPECT_TRUE(model.removed_.empty());
  EXPECT_TRUE(Shows(browser, "nothing deleted"));
  browser.Press('d');
  browser.Press(platform::kKeyNone);
  browser.Press('y');
  EXPECT_EQ(model.removed_, (std::vector<std::vector<EntryId>>{{0, dir}, {0, file}}));
  EXPECT_EQ(Shown(browser), std::vector<std::string>{">kept"});
}

TEST(BrowserTest, ComparisonsSortByGrowth) {
  FakeModel model;
  model.comparison_ = true;
  EntryId grew = model.Add(0, "grew", 500);
  EntryId shrank = model.Add(0, "shrank", 10);
  EntryId same = model.Add(0, "same", 900);
  model.At(grew).old_size[0] = 100;
  model.At(shrank).old_size[0] = 1000;
  model.At(same).old_size[0] = 900;
  Browser browser(&model, Units::kBytes, SortKey::kDisk);
  std::vector<ScreenLine> lines = browser.Render(10, 80);
  EXPECT_EQ(lines[2].text, "      +400      100      500  grew");
  EXPECT_EQ(lines[3].text, "         0      900      900  same");
  EXPECT_EQ(lines[4].text, "      -990     1000       10  shrank");
}

}  // namespace
