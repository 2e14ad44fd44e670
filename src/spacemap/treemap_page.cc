#include "spacemap/treemap_page.h"

#include <charconv>
#include <string>

#include "spacemap/utf8.h"

// The page's HTML, CSS and script, put together from treemap_page.html and
// its pieces at build time.
extern const char kTreemapPageHtml[];

namespace {

// Where the page's template takes the data, inside a script element of type
// application/json that the page's script parses.
constexpr std::string_view kDataMarker = "/*page data*/";

// The records of the data array, flat so that neither writing nor reading
// it recurses, however deep the tree.
enum Record {
  kFile = 0,         // name, allocated, apparent
  kOpenDir = 1,      // name, allocated, apparent, files; then its children, then kClose
  kWholeDir = 2,     // name, allocated, apparent, files: drawn without its children
  kSmaller = 3,      // count, allocated, apparent, files
  kClose = 4,
  kLeftOut = 5,      // as kSmaller, holding entries the page had no room for
  kReadError = 16,   // added to the first three
};

// The records as the page's script names them, written into its data so
// that the numbers stand here only.
struct RecordName {
  const char* name;
  Record record;
};
constexpr RecordName kRecordNames[] = {{"FILE", kFile},         {"OPEN_DIR", kOpenDir}, {"WHOLE_DIR", kWholeDir},
                                       {"SMALLER", kSmaller},   {"CLOSE", kClose},      {"LEFT_OUT", kLeftOut},
                                       {"READ_ERROR", kReadError}};

std::string RecordsMember() {
  std::string json = ",\"records\":{";
  for (const RecordName& record : kRecordNames) {
    if (json.back() != '{') json += ',';
    json += '"' + std::string(record.name) + "\":" + std::to_string(record.record);
  }
  return json + '}';
}

}  // namespace

std::string PageQuotedName(std::string_view raw) {
  static const char kHex[] = "0123456789abcdef";
  std::string quoted = "\"";
  while (!raw.empty()) {
    unsigned char c = raw[0];
    size_t length = Utf8Length(raw);
    if (length == 1 && c >= 0x20 && c != 0x7f) {
      if (c == '"' || c == '\\') quoted += '\\';
      if (c == '<') {
        quoted += "\\u003c";
      } else {
        quoted += c;
      }
    } else if (length > 1) {
      quoted.append(raw.data(), length);
    } else {
      length = 1;
      quoted += "\\\\x";
      quoted += kHex[c >> 4];
      quoted += kHex[c & 15];
    }
    raw.remove_prefix(length);
  }
  return quoted += '"';
}

TreemapPage::TreemapPage(std::FILE* out, const PageInfo& info) : out_(out), by_apparent_(info.by_apparent) {
  std::string_view page = kTreemapPageHtml;
  Write(page.substr(0, page.find(kDataMarker)));
  Write("{\"title\":");
  Write(PageQuotedName(info.title));
  Write(by_apparent_ ? ",\"by\":\"apparent\"" : ",\"by\":\"allocated\"");
  Write(RecordsMember());
  Write(info.members);
  Write(",\"items\":[");
}

TreemapPage::Drawn TreemapPage::Decide(const PageItem& item, bool can_open) {
  uint64_t size = by_apparent_ ? item.apparent : item.allocated;
  if (!started_) {
    threshold_ = item.files <= kAllFiles ? 0 : size / kShareDivisor;
  } else if (size < threshold_ || written_ >= kPageBudget) {
    AddToRest(item, size >= threshold_);
    return Drawn::kNot;
  }
  return can_open && written_ < kOpenBudget ? Drawn::kOpen : Drawn::kWhole;
}

void TreemapPage::AddToRest(const PageItem& item, bool left_out) {
  Rest& rest = open_.back();
  rest.count++;
  rest.allocated += item.allocated;
  rest.apparent += item.apparent;
  rest.files += item.files;
  rest.left_out |= left_out;
}

bool TreemapPage::OpenDirectory(const PageItem& dir) {
  Drawn drawn = Decide(dir, true);
  if (drawn == Drawn::kNot) return false;
  WriteRecord(drawn == Drawn::kOpen ? kOpenDir : kWholeDir, dir, true);
  if (drawn == Drawn::kWhole) return false;
  open_.emplace_back();
  return true;
}

void TreemapPage::File(const PageItem& file) {
  if (Decide(file, false) != Drawn::kNot) WriteRecord(kFile, file, false);
}

void TreemapPage::CloseDirectory() {
  Rest rest = open_.back();
  open_.pop_back();
  if (rest.count) {
    Write(",");
    WriteNumber(rest.left_out ? kLeftOut : kSmaller);
    Write(",");
    for (uint64_t n : {rest.count, rest.allocated, rest.apparent}) {
      WriteNumber(n);
      Write(",");
    }
    WriteNumber(rest.files);
  }
  Write(",");
  WriteNumber(kClose);
}

void TreemapPage::WriteRecord(int type, const PageItem& item, bool with_files) {
  if (started_) Write(",");
  started_ = true;
  WriteNumber(type + (item.read_error ? kReadError : 0));
  Write(",");
  Write(PageQuotedName(item.name));
  Write(",");
  WriteNumber(item.allocated);
  Write(",");
  WriteNumber(item.apparent);
  if (with_files) {
    Write(",");
    WriteNumber(item.files);
  }
}

void TreemapPage::WriteNumber(uint64_t n) {
  char digits[24];
  Write(std::string_view(digits, std::to_chars(digits, digits + sizeof digits, n).ptr - digits));
}

void TreemapPage::Write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), out_);
  written_ += text.size();
}

bool TreemapPage::Finish() {
  Write("]}");
  std::string_view page = kTreemapPageHtml;
  Write(page.substr(page.find(kDataMarker) + kDataMarker.size()));
  return std::fflush(out_) == 0 && !std::ferror(out_);
}
