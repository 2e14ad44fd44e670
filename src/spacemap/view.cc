#include "spacemap/view.h"

#include <algorithm>
#include <string>
#include <vector>

#include "report/out.h"

std::string Printable(std::string_view name) {
  std::string text(name);
  for (char& ch : text)
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) ch = '?';
  return text;
}

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

class ViewPrinter {
 public:
  ViewPrinter(const Tree& tree, const ViewChoices& choices) : tree_(tree), choices_(choices) {
    // The bar takes a fifth of a terminal, within bounds; a pipe gets ten.
    bar_ = choices.width ? std::clamp(choices.width / 5, 5, 20) : 10;
    if (choices.units == Units::kBytes)
      size_columns_ = std::max(size_columns_, FormatSize(tree.SizeOf(tree.Root(), choices.key), Units::kBytes).size());
  }

  void Run() {
    NodeIndex root = tree_.Root();
    Line(tree_.SizeOf(root, choices_.key), tree_.SizeOf(root, choices_.key), 0, Label(root, true), Marks(root));
    if (choices_.depth == 0 || !(tree_.At(root).flags & Node::kDir)) return;
    Push(root);
    while (!frames_.empty()) {
      Frame& frame = frames_.back();
      size_t shown = std::min(frame.children.size(), choices_.top);
      unsigned depth = static_cast<unsigned>(frames_.size());
      if (frame.next < shown) {
        NodeIndex child = frame.children[frame.next++];
        Line(tree_.SizeOf(child, choices_.key), frame.total, depth, Label(child, false), Marks(child));
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

  void Rest(const Frame& frame, size_t shown, unsigned depth) {
    uint64_t size = 0;
    for (size_t i = shown; i < frame.children.size(); ++i) size += tree_.SizeOf(frame.children[i], choices_.key);
    size_t more = frame.children.size() - shown;
    Line(size, frame.total, depth, "(" + std::to_string(more) + " more)", "");
  }

  std::string Label(NodeIndex node, bool root) const {
    std::string name = Printable(tree_.NameOf(node));
    if (!root && (tree_.At(node).flags & Node::kDir)) name += '/';
    return name;
  }

  std::string Marks(NodeIndex node) const { return MarksOf(tree_.At(node).flags); }

  std::string Bar(uint64_t size, uint64_t total) const {
    size_t filled = total ? static_cast<size_t>(static_cast<long double>(size) / total * bar_ + 0.5L) : 0;
    filled = std::min(filled, bar_);
    return std::string(filled, '#') + std::string(bar_ - filled, ' ');
  }

  static std::string Share(uint64_t size, uint64_t total) {
    unsigned tenths = total ? static_cast<unsigned>(static_cast<long double>(size) * 1000 / total + 0.5L) : 0;
    std::string text = std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "%";
    return std::string(text.size() < 6 ? 6 - text.size() : 0, ' ') + text;
  }

  void Line(uint64_t size, uint64_t total, unsigned depth, const std::string& label, const std::string& marks) {
    std::string size_text = FormatSize(size, choices_.units);
    std::string line(size_columns_ > size_text.size() ? size_columns_ - size_text.size() : 0, ' ');
    line += size_text;
    line += ' ';
    line += Share(size, total);
    line += " [";
    std::string bar = Bar(size, total);
    line += Colour(kGreen, bar);
    line += "] ";
    line += std::string(2 * (depth > 0 ? depth - 1 : 0), ' ');
    std::string tail = label + marks;
    if (choices_.width) {
      size_t used = size_columns_ + 1 + 6 + 2 + bar_ + 2 + 2 * (depth > 0 ? depth - 1 : 0);
      size_t room = static_cast<size_t>(choices_.width) > used + 1 ? choices_.width - used - 1 : 1;
      tail = FitColumns(tail, room);
    }
    bool dir = !label.empty() && label.back() == '/';
    line += marks.empty() ? (dir ? Colour(kBold, tail) : tail) : Colour(kRed, tail);
    line += '\n';
    OutWrite(line);
  }

  std::string Colour(const char* code, const std::string& text) const {
    return choices_.colour && !text.empty() ? code + text + kReset : text;
  }

  const Tree& tree_;
  const ViewChoices& choices_;
  size_t bar_;
  size_t size_columns_ = kSizeColumns;
  std::vector<Frame> frames_;
};

}  // namespace

void PrintView(const Tree& tree, const ViewChoices& choices) {
  if (!tree.Empty()) ViewPrinter(tree, choices).Run();
}
