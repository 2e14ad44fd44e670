#include "spacemap/view.h"

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "report/out.h"
#include "spacemap/utf8.h"

const char* MarksOf(uint8_t flags) {
  if (flags & Node::kReadError) return " [unreadable]";
  if (flags & Node::kErrorBelow) return " [unreadable inside]";
  if (flags & Node::kKernelFileSystem) return " [kernel file system]";
  if (flags & Node::kOtherFileSystem) return " [other file system]";
  if (flags & Node::kExcluded) return " [excluded]";
  if (flags & Node::kLinkCountedElsewhere) return " [hard link counted elsewhere]";
  return "";
}

namespace {

bool IsContinuation(char ch) { return (static_cast<unsigned char>(ch) & 0xC0) == 0x80; }

size_t Columns(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char ch) { return !IsContinuation(ch); }));
}

}  // namespace

std::string Printable(std::string_view name) {
  return Shown(name, [](std::string_view, std::string* out) { *out += '?'; });
}

std::string FitColumns(const std::string& text, size_t columns) {
  if (Columns(text) <= columns) return text;
  if (columns == 0) return std::string();
  size_t kept = 0, at = 0;
  for (; at < text.size(); ++at) {
    if (!IsContinuation(text[at]) && kept++ == columns - 1) break;
  }
  return text.substr(0, at) + "~";
}

namespace {

constexpr size_t kSizeColumns = 7;
constexpr const char* kBold = "\033[1m";
constexpr const char* kRed = "\033[31m";
constexpr const char* kGreen = "\033[32m";
constexpr const char* kReset = "\033[0m";

std::string Share(uint64_t size, uint64_t total) {
  unsigned tenths = total ? static_cast<unsigned>(static_cast<long double>(size) * 1000 / total + 0.5L) : 0;
  std::string text = std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "%";
  return std::string(text.size() < 6 ? 6 - text.size() : 0, ' ') + text;
}

}  // namespace

std::string FormatTime(const Extended& ext) {
  if (!(ext.known & Extended::kMtime)) return "-" + std::string(kTimeColumns - 1, ' ');
  std::time_t seconds = static_cast<std::time_t>(ext.mtime);
  std::tm local{};
#ifdef _WIN32
  bool converted = localtime_s(&local, &seconds) == 0;
#else
  bool converted = localtime_r(&seconds, &local) != nullptr;
#endif
  char text[64];
  if (!converted || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local) != kTimeColumns)
    return "?" + std::string(kTimeColumns - 1, ' ');
  return text;
}

ViewRowPrinter::ViewRowPrinter(const ViewChoices& choices, uint64_t largest)
    : choices_(choices), size_columns_(kSizeColumns) {
  // The bar takes a fifth of a terminal, within bounds; a pipe gets ten.
  bar_ = choices.width ? std::clamp(choices.width / 5, 5, 20) : 10;
  if (choices.units == Units::kBytes)
    size_columns_ = std::max(size_columns_, FormatSize(largest, Units::kBytes).size());
}

std::string ViewRowPrinter::Bar(uint64_t size, uint64_t total) const {
  size_t filled = total ? static_cast<size_t>(static_cast<long double>(size) / total * bar_ + 0.5L) : 0;
  filled = std::min(filled, bar_);
  return std::string(filled, '#') + std::string(bar_ - filled, ' ');
}

std::string ViewRowPrinter::Colour(const char* code, const std::string& text) const {
  return choices_.colour && !text.empty() ? code + text + kReset : text;
}

void ViewRowPrinter::Print(const ViewRow& row) const {
  std::string size_text = FormatSize(row.size, choices_.units);
  std::string line(size_columns_ > size_text.size() ? size_columns_ - size_text.size() : 0, ' ');
  line += size_text;
  line += ' ';
  line += Share(row.size, row.total);
  line += " [";
  line += Colour(kGreen, Bar(row.size, row.total));
  line += "] ";
  if (choices_.time) line += FormatTime(row.ext) + ' ';
  size_t indent = 2 * (row.depth > 0 ? row.depth - 1 : 0);
  line += std::string(indent, ' ');
  std::string tail = row.label + row.marks;
  if (choices_.width) {
    size_t used = size_columns_ + 1 + 6 + 2 + bar_ + 2 + indent + (choices_.time ? kTimeColumns + 1 : 0);
    size_t room = static_cast<size_t>(choices_.width) > used + 1 ? choices_.width - used - 1 : 1;
    tail = FitColumns(tail, room);
  }
  bool dir = !row.label.empty() && row.label.back() == '/';
  line += row.marks.empty() ? (dir ? Colour(kBold, tail) : tail) : Colour(kRed, tail);
  line += '\n';
  OutWrite(line);
}

namespace {

class ViewPrinter {
 public:
  ViewPrinter(const Tree& tree, const ViewChoices& choices)
      : tree_(tree), choices_(choices), rows_(choices, tree.SizeOf(tree.Root(), choices.key)) {}

  void Run() {
    NodeIndex root = tree_.Root();
    Line(root, tree_.SizeOf(root, choices_.key), 0, true);
    if (choices_.depth == 0 || !(tree_.At(root).flags & Node::kDir)) return;
    Push(root);
    while (!frames_.empty()) {
      Frame& frame = frames_.back();
      size_t shown = std::min(frame.children.size(), choices_.top);
      unsigned depth = static_cast<unsigned>(frames_.size());
      if (frame.next < shown) {
        NodeIndex child = frame.children[frame.next++];
        Line(child, frame.total, depth, false);
        if (depth < choices_.depth && (tree_.At(child).flags & Node::kDir) && tree_.At(child).end > child + 1)
          Push(child);
        continue;
      }
      if (frame.children.size() > shown) Rest(frame, shown, depth);
      frames_.pop_back();
    }
  }

 private:
  struct Frame {
    std::vector<NodeIndex> children;
    uint64_t total;
    size_t next = 0;
  };

  void Push(NodeIndex dir) {
    frames_.push_back(Frame{tree_.SortedChildren(dir, choices_.key), tree_.SizeOf(dir, choices_.key)});
  }

  void Line(NodeIndex node, uint64_t total, unsigned depth, bool root) {
    ViewRow row;
    row.size = tree_.SizeOf(node, choices_.key);
    row.total = total;
    row.depth = depth;
    row.label = Label(node, root);
    row.marks = Marks(node);
    row.ext = tree_.ExtendedOf(node);
    rows_.Print(row);
  }

  void Rest(const Frame& frame, size_t shown, unsigned depth) {
    ViewRow row;
    for (size_t i = shown; i < frame.children.size(); ++i) {
      row.size += tree_.SizeOf(frame.children[i], choices_.key);
      KeepNewest(tree_.ExtendedOf(frame.children[i]), &row.ext);
    }
    row.total = frame.total;
    row.depth = depth;
    row.label = "(" + std::to_string(frame.children.size() - shown) + " more)";
    rows_.Print(row);
  }

  std::string Label(NodeIndex node, bool root) const {
    std::string name = Printable(tree_.NameOf(node));
    if (!root && (tree_.At(node).flags & Node::kDir)) name += '/';
    return name;
  }

  std::string Marks(NodeIndex node) const { return MarksOf(tree_.At(node).flags); }

  const Tree& tree_;
  const ViewChoices& choices_;
  ViewRowPrinter rows_;
  std::vector<Frame> frames_;
};

}  // namespace

void PrintView(const Tree& tree, const ViewChoices& choices) {
  if (!tree.Empty()) ViewPrinter(tree, choices).Run();
}
