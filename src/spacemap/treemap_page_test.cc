// What the page holds of a tree and how; small whatever the tree.
#include "spacemap/treemap_page.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

// The page's data array, written by `stream`, as text.
std::string Items(const std::function<void(TreemapPage&)>& stream, size_t* page_size = nullptr) {
  std::FILE* out = std::tmpfile();
  TreemapPage page(out, {"t", false, ""});
  stream(page);
  EXPECT_TRUE(page.Finish());
  std::string text(std::ftell(out), '\0');
  std::rewind(out);
  text.resize(std::fread(text.data(), 1, text.size(), out));
  std::fclose(out);
  if (page_size) *page_size = text.size();
  size_t begin = text.find("\"items\":[") + 9;
  return text.substr(begin, text.find("]}</script>") - begin);
}

TEST(TreemapPageTest, ShowsNamesAsUtf8AndEveryOtherByteEscaped) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\"b\\c", R"("a\"b\\c")"},
      {"<!--<script>", R"("\u003c!--\u003cscript>")"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
      {"new\nline\x7f", R"("new\\x0aline\\x7f")"},
      {"\xff\xfe", R"("\\xff\\xfe")"},
      // cut short, overlong, a surrogate, past U+10FFFF
      {"\xe2\x82 \xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80", R"("\\xe2\\x82 \\xc0\\xaf \\xed\\xa0\\x80 \\xf4\\x90\\x80\\x80")"},
  };
  for (const auto& [raw, quoted] : cases) EXPECT_EQ(PageQuotedName(raw), quoted) << raw;
}

TEST(TreemapPageTest, HoldsWhatIsBigEnoughAndSumsTheRest) {
  // A tree of more than kAllFiles files, sized so that the threshold is 1000.
  const uint64_t many = TreemapPage::kAllFiles + 1, total = 1000 * TreemapPage::kShareDivisor;
  EXPECT_EQ(Items([&](TreemapPage& page) {
              EXPECT_TRUE(page.OpenDirectory({"root", total, total - 1, many}));
              page.File({"big", 5000, 4000});
              EXPECT_TRUE(page.OpenDirectory({"sub", 3000, 2000, 7, true}));
              page.File({"small", 999, 100});
              page.CloseDirectory();
              EXPECT_FALSE(page.OpenDirectory({"tiny", 999, 999, 2}));
              page.File({"tiny file", 1, 1});
              page.CloseDirectory();
            }),
            "1,\"root\"," + std::to_string(total) + "," + std::to_string(total - 1) +
                ",100001,0,\"big\",5000,4000,17,\"sub\",3000,2000,7,3,1,999,100,1,4,3,2,1000,1000,3,4");
  EXPECT_EQ(Items([](TreemapPage& page) {
              page.OpenDirectory({"all of a small tree", 10, 10, 2});
              page.File({"empty", 0, 0});
              page.File({"one block", 4096, 1});
              page.CloseDirectory();
            }),
            "1,\"all of a small tree\",10,10,2,0,\"empty\",0,0,0,\"one block\",4096,1,4");
  EXPECT_EQ(Items([](TreemapPage& page) { page.File({"just a file", 10, 9}); }), "0,\"just a file\",10,9");
}

TEST(TreemapPageTest, StaysUnderEightMegabytesWhateverTheTree) {
  const std::string long_name(255, '\xff');  // four bytes in the page for each
  const uint64_t files = 1000000, total = files * TreemapPage::kShareDivisor;
  size_t size;
  // A chain of directories as deep as the page lets it go, each of them big.
  int depth = 0;
  Items([&](TreemapPage& page) {
    while (depth < 1000000 && page.OpenDirectory({long_name, total, total, files})) depth++;
    for (int i = 0; i < depth; ++i) page.CloseDirectory();
  }, &size);
  EXPECT_LT(depth, 1000000);
  EXPECT_LT(size, 8u << 20);
  // Too many entries big enough to draw, each with a long name.
  std::string items = Items([&](TreemapPage& page) {
    page.OpenDirectory({"root", total, total, files});
    for (uint64_t i = 0; i < TreemapPage::kShareDivisor; ++i) page.File({long_name, files, files});
    page.CloseDirectory();
  }, &size);
  EXPECT_LT(size, 8u << 20);
  EXPECT_NE(items.find(",5,"), std::string::npos) << "no sum of what was left out";
}

}  // namespace
