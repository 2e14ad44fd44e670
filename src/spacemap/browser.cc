#include "spacemap/browser.h"

#include <algorithm>
#include <tuple>

#include "platform/path.h"
#include "spacemap/utf8.h"

namespace {

constexpr size_t kBarColumns = 10;
constexpr const char* kDefaultExport = "spacemap-export.json";
constexpr int kEscape = 27;

std::string Share(uint64_t size, uint64_t total) {
  unsigned tenths = total ? static_cast<unsigned>(static_cast<long double>(size) * 1000 / total + 0.5L) : 0;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "%";
}

std::string Bar(uint64_t size, uint64_t total) {
  size_t filled = total ? static_cast<size_t>(static_cast<long double>(size) / total * kBarColumns + 0.5L) : 0;
  filled = std::min(filled, kBarColumns);
  return "[" + std::string(filled, '#') + std::string(kBarColumns - filled, ' ') + "]";
}

std::string PadLeft(const std::string& text, size_t width) {
  return std::string(text.size() < width ? width - text.size() : 0, ' ') + text;
}

const char* OrderName(Ordering::Kind kind, bool comparison) {
  switch (kind) {
    case Ordering::kSize: return comparison ? "growth" : "size";
    case Ordering::kName: return "name";
    case Ordering::kCount: return "items";
    case Ordering::kTime: return "time";
  }
  return "";
}

const std::vector<std::string>& HelpLines() {
  static const std::vector<std::string> lines = {
      "up, k / down, j      move",
      "PgUp PgDn Home End   move by pages, to the ends",
      "right, l, Enter      open a directory",
      "left, h, Backspace   go up",
      "s  n  C  M           sort by size, name, items, time",
      "                     (the same key again reverses)",
      "a                    apparent size / disk usage",
      "Space                mark or unmark, then move down",
      "d                    delete the marked or selected",
      "i                    details of the selected",
      "r                    scan the selected directory again",
      "E                    export the scan to a file",
      "q                    quit",
  };
  return lines;
}

}  // namespace

Browser::Browser(BrowseModel* model, Units units, SortKey key) : model_(model), units_(units), chain_{model->Root()} {
  ordering_.key = key;
  ordering_.comparison = model->Comparison();
}

const std::vector<EntryId>& Browser::Entries() {
  uint64_t generation = model_->Generation(chain_.back());
  if (generation == entries_generation_ && chain_.back() == entries_dir_ && !resort_) return entries_;
  EntryId selected = selected_ < entries_.size() ? entries_[selected_] : UINT64_MAX;
  bool same_dir = chain_.back() == entries_dir_;
  model_->Children(chain_.back(), ordering_, &entries_);
  entries_generation_ = generation;
  entries_dir_ = chain_.back();
  resort_ = false;
  if (same_dir) SelectId(selected);
  selected_ = entries_.empty() ? 0 : std::min(selected_, entries_.size() - 1);
  return entries_;
}

// Only with an entry to select.
BrowseEntry Browser::Selected() { return model_->Describe(Entries()[selected_]); }

void Browser::SelectId(EntryId id) {
  auto found = std::find(entries_.begin(), entries_.end(), id);
  if (found != entries_.end()) selected_ = static_cast<size_t>(found - entries_.begin());
}

void Browser::Move(long delta) {
  const auto& entries = Entries();
  if (entries.empty()) return;
  long last = static_cast<long>(entries.size()) - 1;
  selected_ = static_cast<size_t>(std::clamp(static_cast<long>(selected_) + delta, 0L, last));
}

void Browser::Open() {
  if (Entries().empty() || !Selected().dir) return;
  chain_.push_back(entries_[selected_]);
  selected_ = top_ = 0;
}

void Browser::Up() {
  if (chain_.size() < 2) return;
  EntryId left = chain_.back();
  chain_.pop_back();
  Entries();
  SelectId(left);
  top_ = 0;
}

void Browser::ChooseOrder(Ordering::Kind kind) {
  if (kind == Ordering::kTime) {
    const auto& entries = Entries();
    if (std::none_of(entries.begin(), entries.end(), [this](EntryId id) { return model_->Describe(id).mtime; })) {
      message_ = "no modification times in this scan";
      return;
    }
  }
  ordering_.reversed = kind == ordering_.kind && !ordering_.reversed;
  ordering_.kind = kind;
  Resort();
}

// The order changed: the selected entry stays selected.
void Browser::Resort() {
  const auto& entries = Entries();
  EntryId selected = entries.empty() ? 0 : entries[selected_];
  resort_ = true;
  Entries();
  SelectId(selected);
}

void Browser::ToggleMark() {
  const auto& entries = Entries();
  if (entries.empty()) return;
  EntryId id = entries[selected_];
  if (!model_->ReadOnly().empty()) {
    message_ = model_->ReadOnly();
    return;
  }
  if (!marks_.erase(id)) marks_[id] = ChainTo(id);
  Move(1);
}

std::vector<EntryId> Browser::ChainTo(EntryId id) const {
  std::vector<EntryId> chain = chain_;
  chain.push_back(id);
  return chain;
}

// The marked entries, or else the selected one; none that lies below
// another of them, which takes it along.
std::vector<Browser::Target> Browser::Targets() {
  std::vector<Target> targets;
  if (marks_.empty()) {
    if (!entries_.empty()) targets.push_back(Target{ChainTo(entries_[selected_]), model_->Describe(entries_[selected_])});
    return targets;
  }
  for (const auto& [id, chain] : marks_) {
    bool below_another = std::any_of(chain.begin(), chain.end() - 1, [&](EntryId up) { return marks_.count(up); });
    if (!below_another) targets.push_back(Target{chain, model_->Describe(id)});
  }
  return targets;
}

void Browser::AskDelete() {
  if (!model_->ReadOnly().empty()) {
    message_ = model_->ReadOnly();
    return;
  }
  Entries();
  pending_ = Targets();
  if (pending_.empty()) return;
  for (const Target& target : pending_)
    if (target.entry.scanning) {
      message_ = Escaped(target.entry.name) + " is still being scanned";
      return;
    }
  mode_ = Mode::kConfirm;
}

void Browser::Delete() {
  size_t deleted = 0;
  std::string failure;
  for (const Target& target : pending_) {
    std::string why = model_->Remove(target.chain);
    if (why.empty()) {
      ++deleted;
      marks_.erase(target.chain.back());
    } else if (failure.empty()) {
      failure = Escaped(target.entry.name) + ": " + why;
    }
  }
  pending_.clear();
  message_ = std::to_string(deleted) + (deleted == 1 ? " entry" : " entries") + " deleted";
  if (!failure.empty()) message_ += "; " + failure;
}

void Browser::Refresh() {
  if (Entries().empty() || !Selected().dir) {
    message_ = "select a directory to scan again";
    return;
  }
  std::vector<std::string> names;
  for (size_t i = 1; i < chain_.size(); ++i) names.emplace_back(model_->Describe(chain_[i]).name);
  std::string name(Selected().name);
  std::string why = model_->Refresh(ChainTo(entries_[selected_]));
  if (!why.empty()) {
    message_ = why;
    return;
  }
  // The scan is rebuilt: its entries are found again by name.
  marks_.clear();
  chain_.resize(1);
  names.push_back(name);
  std::vector<EntryId> children;
  for (const std::string& wanted : names) {
    model_->Children(chain_.back(), ordering_, &children);
    auto found = std::find_if(children.begin(), children.end(),
                              [&](EntryId id) { return model_->Describe(id).name == wanted; });
    if (found == children.end()) break;
    chain_.push_back(*found);
  }
  EntryId selected = chain_.size() > names.size() ? chain_.back() : UINT64_MAX;
  if (selected != UINT64_MAX) chain_.pop_back();
  entries_dir_ = UINT64_MAX;
  Entries();
  SelectId(selected);
  message_ = "scanned again: " + Escaped(name);
}

void Browser::Export() {
  std::string why = model_->Export(export_name_);
  message_ = why.empty() ? "exported to " + Escaped(export_name_) : why;
}

bool Browser::PressInMode(int key) {
  // No key came, or the window changed: the question stays.
  if (key == platform::kKeyNone || key == platform::kKeyResize) return true;
  switch (mode_) {
    case Mode::kConfirm:
      mode_ = Mode::kList;
      if (key == 'y' || key == 'Y') Delete();
      else message_ = "nothing deleted";
      pending_.clear();
      return true;
    case Mode::kExportName:
      if (key == platform::kKeyEnter) {
        mode_ = Mode::kList;
        if (!export_name_.empty()) Export();
      } else if (key == kEscape) {
        mode_ = Mode::kList;
      } else if (key == platform::kKeyBackspace) {
        if (!export_name_.empty()) export_name_.pop_back();
      } else if (key >= 0x20 && key < 0x7F) {
        export_name_ += static_cast<char>(key);
      }
      return true;
    default:
      // Any key closes the help or the details; none quits from there.
      mode_ = Mode::kList;
      return true;
  }
}

bool Browser::Press(int key) {
  if (key == platform::kKeyInterrupt) return false;
  if (mode_ != Mode::kList) return PressInMode(key);
  if (key != platform::kKeyNone && key != platform::kKeyResize) message_.clear();
  long page = ListRows();
  switch (key) {
    case 'q': return false;
    case platform::kKeyUp: case 'k': Move(-1); break;
    case platform::kKeyDown: case 'j': Move(1); break;
    case platform::kKeyPageUp: Move(-page); break;
    case platform::kKeyPageDown: Move(page); break;
    case platform::kKeyHome: Move(-static_cast<long>(Entries().size())); break;
    case platform::kKeyEnd: Move(static_cast<long>(Entries().size())); break;
    case platform::kKeyRight: case 'l': case platform::kKeyEnter: Open(); break;
    case platform::kKeyLeft: case 'h': case platform::kKeyBackspace: Up(); break;
    case 's': ChooseOrder(Ordering::kSize); break;
    case 'n': ChooseOrder(Ordering::kName); break;
    case 'C': ChooseOrder(Ordering::kCount); break;
    case 'M': ChooseOrder(Ordering::kTime); break;
    case 'a':
      ordering_.key = ordering_.key == SortKey::kDisk ? SortKey::kApparent : SortKey::kDisk;
      Resort();
      message_ = ordering_.key == SortKey::kDisk ? "showing disk usage" : "showing apparent sizes";
      break;
    case ' ': ToggleMark(); break;
    case 'd': AskDelete(); break;
    case 'r': Refresh(); break;
    case 'E':
      export_name_ = kDefaultExport;
      mode_ = Mode::kExportName;
      break;
    case 'i': if (!Entries().empty()) mode_ = Mode::kInfo; break;
    case '?': mode_ = Mode::kHelp; break;
    default: break;
  }
  return true;
}

std::string Browser::PathOf(const std::vector<EntryId>& chain) {
  std::string path;
  for (EntryId id : chain) {
    if (!path.empty() && path.back() != platform::kSeparator) path += platform::kSeparator;
    path += model_->Describe(id).name;
  }
  return path;
}

std::string Browser::EntryLine(const BrowseEntry& entry, uint64_t total) const {
  std::string line = marks_.count(entry.id) ? "*" : " ";
  if (model_->Comparison()) {
    line += PadLeft(FormatChange(entry.OldSize(ordering_.key), entry.Size(ordering_.key), units_), 9) +
            PadLeft(FormatSize(entry.OldSize(ordering_.key), units_), 9) + PadLeft(FormatSize(entry.Size(ordering_.key), units_), 9);
  } else {
    line += PadLeft(FormatSize(entry.Size(ordering_.key), units_), 9) + " " + PadLeft(Share(entry.Size(ordering_.key), total), 6) +
            " " + Bar(entry.Size(ordering_.key), total) + " " + PadLeft(entry.dir ? std::to_string(entry.items) : "", 8);
  }
  line += "  " + Escaped(entry.name) + (entry.dir ? "/" : "") + entry.marks;
  if (entry.scanning) line += "  (being scanned)";
  return line;
}

std::string Browser::Header() const {
  std::string header = "spacemap " SPACE_VERSION "  ? for help";
  std::string read_only = model_->ReadOnly();
  if (!read_only.empty()) header += "  [read-only]";
  return header;
}

std::vector<std::string> Browser::Dialog() {
  switch (mode_) {
    case Mode::kHelp: return HelpLines();
    case Mode::kConfirm: {
      uint64_t total = 0;
      for (const Target& target : pending_) total += target.entry.Size(ordering_.key);
      std::string what = pending_.size() == 1
                             ? Escaped(pending_[0].entry.name) + (pending_[0].entry.dir ? "/ and everything in it" : "")
                             : std::to_string(pending_.size()) + " marked entries";
      return {"Delete " + what + " (" + FormatSize(total, units_) + ")?", "y deletes, any other key cancels"};
    }
    case Mode::kExportName:
      return {"Export the scan to the file:", export_name_ + "_", "Enter writes it, Esc cancels"};
    case Mode::kInfo: {
      BrowseEntry entry = Selected();
      std::vector<EntryId> chain = ChainTo(entry.id);
      std::vector<std::string> lines = {"Path: " + Escaped(PathOf(chain)),
                                        "Type: " + std::string(entry.dir ? "directory" : "file"),
                                        "Disk usage: " + FormatSize(entry.size[0], units_) + " (" +
                                            std::to_string(entry.size[0]) + " bytes)",
                                        "Apparent size: " + FormatSize(entry.size[1], units_) + " (" +
                                            std::to_string(entry.size[1]) + " bytes)"};
      if (entry.dir) lines.push_back("Items: " + std::to_string(entry.items));
      for (std::string& line : model_->Details(entry.id)) lines.push_back(std::move(line));
      return lines;
    }
    default: return {};
  }
}

void Browser::Overlay(const std::vector<std::string>& box, int columns, std::vector<ScreenLine>* lines) const {
  size_t width = 0;
  for (const std::string& line : box) width = std::max(width, line.size());
  width = std::min(width + 4, static_cast<size_t>(std::max(columns, 8)));
  int first = std::max(1, (rows_ - static_cast<int>(box.size()) - 2) / 2);
  std::string edge = "+" + std::string(width - 2, '-') + "+";
  auto put = [&](int row, const std::string& text) {
    if (row >= 1 && row < rows_ - 1) (*lines)[static_cast<size_t>(row)] = ScreenLine{text, platform::Look::kBold};
  };
  put(first, edge);
  for (size_t i = 0; i < box.size(); ++i)
    put(first + 1 + static_cast<int>(i), "| " + box[i] + std::string(width - 4 - std::min(width - 4, box[i].size()), ' ') + " |");
  put(first + 1 + static_cast<int>(box.size()), edge);
}

std::vector<ScreenLine> Browser::Render(int rows, int columns) {
  rows_ = std::max(rows, 4);
  std::vector<ScreenLine> lines(static_cast<size_t>(rows_));
  lines[0] = ScreenLine{Header(), platform::Look::kReverse};
  const auto& entries = Entries();
  BrowseEntry here = model_->Describe(chain_.back());
  std::string path = Escaped(PathOf(chain_));
  lines[1].text = "--- " + path + (here.scanning ? " (being scanned)" : "") + " ---";
  if (model_->Comparison()) lines[1].text += "   change, old, new";
  size_t shown = static_cast<size_t>(ListRows());
  if (selected_ < top_) top_ = selected_;
  if (selected_ >= top_ + shown) top_ = selected_ - shown + 1;
  for (size_t row = 0; row < shown && top_ + row < entries.size(); ++row) {
    BrowseEntry entry = model_->Describe(entries[top_ + row]);
    lines[row + 2] = ScreenLine{EntryLine(entry, here.Size(ordering_.key)),
                                top_ + row == selected_ ? platform::Look::kReverse : platform::Look::kPlain};
  }
  if (entries.empty()) lines[2].text = here.scanning ? " (nothing read yet)" : " (empty)";
  if (mode_ != Mode::kList) Overlay(Dialog(), columns, &lines);
  std::string status = message_.empty() ? model_->Status(ordering_.key, units_) : message_;
  status += "  sorted by " + std::string(OrderName(ordering_.kind, ordering_.comparison)) +
            (ordering_.reversed ? ", reversed" : "");
  if (!marks_.empty()) status += "  " + std::to_string(marks_.size()) + " marked";
  lines[static_cast<size_t>(rows_ - 1)] = ScreenLine{status, platform::Look::kReverse};
  return lines;
}
