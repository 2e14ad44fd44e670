// spacemap: where the space of a directory tree goes.
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <new>
#include <stdexcept>

#include "options/cmdname.h"
#include "platform/platform.h"
#include "report/diagnostic.h"
#include "report/out.h"
#include "spacemap/diff.h"
#include "spacemap/export_reader.h"
#include "spacemap/export_writer.h"
#include "spacemap/html_output.h"
#include "spacemap/interactive.h"
#include "spacemap/options.h"
#include "spacemap/scan.h"
#include "spacemap/tree.h"
#include "spacemap/view.h"

namespace {

// A file named on the command line, "-" the standard stream.
class File {
 public:
  File(const std::string& name, bool write)
      : file_(name == "-" ? Standard(write) : std::fopen(name.c_str(), write ? "wb" : "rb")), owned_(name != "-") {}
  ~File() {
    if (file_ && owned_) std::fclose(file_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  std::FILE* get() const { return file_; }
  // Closes it, false when that failed (the last writes with it).
  bool Close() {
    bool closed = !owned_ || std::fclose(file_) == 0;
    file_ = nullptr;
    return closed;
  }

 private:
  static std::FILE* Standard(bool write) {
    platform::BinaryStdio();
    return write ? stdout : stdin;
  }

  std::FILE* file_;
  bool owned_;
};

// Reads `name`, an export, into `sink`; false after reporting why not.
bool Import(const std::string& name, ScanSink* sink) {
  File in(name, false);
  if (!in.get()) {
    ReportFailure("cannot read '" + name + "'", errno);
    return false;
  }
  try {
    ReadExport(in.get(), sink);
  } catch (const MalformedExport& e) {
    WriteMessage(name, "malformed at byte " + std::to_string(e.offset()) + ": " + e.what());
    return false;
  }
  return true;
}

// The scan of `source`: an export read back, or the directory walked now.
bool Load(const std::string& source, bool walk, const Options& o, ScanSink* sink) {
  if (!walk) return Import(source, sink);
  Scan(source, o.scan, sink);
  return true;
}

bool IsDirectory(const std::string& name) {
  std::error_code error;
  return name != "-" && std::filesystem::is_directory(name, error);
}

int Export(const Options& o) {
  File out(o.output, true);
  if (!out.get()) {
    ReportFailure("cannot write '" + o.output + "'", errno);
    return 2;
  }
  ExportWriter writer(out.get(), SPACE_VERSION, static_cast<int64_t>(std::time(nullptr)));
  if (!Load(o.input.empty() ? o.path : o.input, o.input.empty(), o, &writer)) return 2;
  if (!writer.Finish() || !out.Close()) {
    ReportFailure("cannot write '" + o.output + "'", errno ? errno : EIO);
    return 2;
  }
  return AnyFailure() ? 2 : 0;
}

// The two scans --diff compares; false after reporting why not.
bool LoadDiff(const Options& o, Tree* old_tree, Tree* new_tree) {
  TreeBuilder old_builder(old_tree, o.count_links), new_builder(new_tree, o.count_links);
  return Load(o.diff[0], IsDirectory(o.diff[0]), o, &old_builder) &&
         Load(o.diff[1], IsDirectory(o.diff[1]), o, &new_builder);
}

int Diff(const Options& o) {
  Tree old_tree, new_tree;
  if (!LoadDiff(o, &old_tree, &new_tree)) return 2;
  PrintDiff(old_tree, new_tree, o.view);
  OutFlush();
  return AnyFailure() ? 2 : 0;
}

// The treemap page, written once the tree is whole; its file is opened
// first, so that a page that cannot be written costs no walk.
int Page(const Options& o) {
  File out(o.html, true);
  if (!out.get()) {
    ReportFailure("cannot write '" + o.html + "'", errno);
    return 2;
  }
  Tree tree;
  TreeBuilder builder(&tree, o.count_links);
  if (!Load(o.input.empty() ? o.path : o.input, o.input.empty(), o, &builder)) return 2;
  if (!WriteTreemapPage(tree, o.view.key, out.get()) || !out.Close()) {
    ReportFailure("cannot write '" + o.html + "'", errno ? errno : EIO);
    return 2;
  }
  return AnyFailure() ? 2 : 0;
}

// The browser: over the comparison once both scans are read, else over
// the scan as it is made.
int Interactive(const Options& o) {
  if (!o.diff.empty()) {
    Tree old_tree, new_tree;
    if (!LoadDiff(o, &old_tree, &new_tree)) return 2;
    return BrowseDiff(o, old_tree, new_tree);
  }
  bool walk = o.input.empty();
  std::string source = walk ? o.path : o.input;
  if (!walk && !File(source, false).get()) {
    ReportFailure("cannot read '" + source + "'", errno);
    return 2;
  }
  return BrowseScan(o, walk ? AbsoluteStartPath(source) : source, walk,
                    [&](ScanSink* sink) { return Load(source, walk, o, sink); });
}

int View(const Options& o) {
  Tree tree;
  TreeBuilder builder(&tree, o.count_links);
  if (!Load(o.input.empty() ? o.path : o.input, o.input.empty(), o, &builder)) return 2;
  PrintView(tree, o.view);
  OutFlush();
  return AnyFailure() ? 2 : 0;
}

// The drive a path names (1 = A), 0 for the current one.
unsigned DriveOf(const std::string& path) {
  if (path.size() < 2 || path[1] != ':') return 0;
  char letter = path[0];
  if (letter >= 'a' && letter <= 'z') return static_cast<unsigned>(letter - 'a' + 1);
  if (letter >= 'A' && letter <= 'Z') return static_cast<unsigned>(letter - 'A' + 1);
  return 0;
}

int Run(int argc, char** argv) {
  static std::vector<std::string> arguments = platform::Arguments(argc, argv);
  static std::vector<char*> vector;
  for (std::string& argument : arguments) vector.push_back(&argument[0]);
  vector.push_back(nullptr);
  av = vector.data();

  Options o;
  std::string variable;
  platform::GetEnv(cmdname(), &variable);
  if (int status = ParseOptions(arguments, variable, &o); status >= 0) return status;
  std::string no_colour;
  o.view.colour = !(platform::GetEnv("NO_COLOR", &no_colour) && !no_colour.empty()) && platform::StdoutShowsColour();
  o.view.width = platform::StdoutTerminalWidth();
  // Where the platform cannot tell what a file takes, it takes whole
  // clusters of its drive, as space counts.
  platform::dfree df;
  if (!platform::kKnowsAllocatedSize && !o.scan.cluster_size &&
      platform::getdfree(DriveOf(o.path), o.path.c_str(), &df) == 0)
    o.scan.cluster_size = uint64_t(df.df_bsec) * df.df_sclus;
  if (o.interactive) return Interactive(o);
  if (!o.diff.empty()) return Diff(o);
  if (!o.output.empty()) return Export(o);
  if (!o.html.empty()) return Page(o);
  return View(o);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    WriteMessage("out of memory", "Abnormal program termination");
    return 3;
  } catch (const std::length_error& e) {
    WriteMessage("cannot hold the tree", e.what());
    return 2;
  }
}
