// spacemap: where the space of a directory tree goes.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <new>
#include <stdexcept>

#include "options/cmdname.h"
#include "platform/console.h"
#include "platform/dir_read.h"
#include "platform/drive.h"
#include "platform/process.h"
#include "report/diagnostic.h"
#include "report/out.h"
#include "report/progress.h"
#include "spacemap/diff.h"
#include "spacemap/export_reader.h"
#include "spacemap/export_writer.h"
#include "spacemap/html_output.h"
#include "spacemap/interactive.h"
#include "spacemap/largest.h"
#include "spacemap/list_views.h"
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
    InputStream stream(in.get());
    ReadExport(&stream, sink);
  } catch (const MalformedExport& e) {
    WriteMessage(name, "malformed at byte " + std::to_string(e.offset()) + ": " + e.what());
    return false;
  } catch (const StreamError& e) {
    WriteMessage(name, std::string(e.what()) + " (at byte " + std::to_string(e.offset()) + " of the file)");
    return false;
  } catch (const CodecUnavailable& e) {
    WriteMessage(name, e.what());
    return false;
  }
  return true;
}

// The scan of `source`: an export read back, or the directory walked now.
bool LoadAll(const std::string& source, bool walk, const Options& o, ScanSink* sink) {
  if (!walk) return Import(source, sink);
  Scan(source, o.scan, sink);
  return true;
}

// The scan of `source`, restricted by age where asked: a file of unknown
// age, in an export written without times, fails the restriction.
bool Load(const std::string& source, bool walk, const Options& o, ScanSink* sink) {
  if (!o.age.Any()) return LoadAll(source, walk, o, sink);
  AgeFilter filter(o.age, sink);
  if (!LoadAll(source, walk, o, &filter)) return false;
  if (uint64_t untimed = filter.Untimed()) {
    WriteMessage(source, std::to_string(untimed) + " files of unknown age left out (an export written without -e?)");
    return false;
  }
  return true;
}

bool IsDirectory(const std::string& name) {
  std::error_code error;
  return name != "-" && std::filesystem::is_directory(name, error);
}

// The name's suffix (.zst, .gz) tells the compression, else --compress.
Compression CompressionOf(const Options& o) {
  Compression by_name = CompressionOfName(o.output);
  return by_name != Compression::kNone ? by_name : o.compress ? Compression::kZstd : Compression::kNone;
}

int Export(const Options& o) {
  Compression compression = CompressionOf(o);
  if (compression != Compression::kNone && !kCodecsBuiltIn) {
    WriteMessage(o.output, kNoCodecs);
    return 2;
  }
  File out(o.output, true);
  if (!out.get()) {
    ReportFailure("cannot write '" + o.output + "'", errno);
    return 2;
  }
  OutputStream stream(out.get(), compression);
  // What an export read back carries is written back, asked for or not.
  ExportWriter writer(&stream, SPACE_VERSION, static_cast<int64_t>(std::time(nullptr)),
                      o.extended || !o.input.empty());
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
  if (!WriteTreemapPage(tree, o.view.key, o.view.largest, out.get()) || !out.Close()) {
    ReportFailure("cannot write '" + o.html + "'", errno ? errno : EIO);
    return 2;
  }
  return AnyFailure() ? 2 : 0;
}

// The largest files take no tree: a heap of them as the scan goes by.
int Largest(const Options& o) {
  LargestFiles largest(o.view.largest, o.view.key, o.count_links);
  if (!Load(o.input.empty() ? o.path : o.input, o.input.empty(), o, &largest)) return 2;
  PrintLargest(largest, o.view);
  OutFlush();
  return AnyFailure() ? 2 : 0;
}

// So do the kinds of files: a sum for each extension.
int Types(const Options& o) {
  TypeTotals types(o.count_links);
  if (!Load(o.input.empty() ? o.path : o.input, o.input.empty(), o, &types)) return 2;
  PrintTypes(types, o.view);
  OutFlush();
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
  if (o.view.largest) return Largest(o);
  if (o.view.types) return Types(o);
  Tree tree(o.extended || o.view.time);
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
  o.scan.extended = o.extended || o.view.time || o.age.Any();
  std::string no_colour;
  o.view.colour = !(platform::GetEnv("NO_COLOR", &no_colour) && !no_colour.empty()) && platform::StdoutShowsColour();
  o.view.width = platform::StdoutTerminalWidth();
  platform::StdoutInUtf8();  // names are UTF-8, as exports hold them
  // Where the platform cannot tell what a file takes, it takes whole
  // clusters of its drive, as space counts.
  platform::dfree df;
  if (!platform::kKnowsAllocatedSize && !o.scan.cluster_size &&
      platform::getdfree(DriveOf(o.path), o.path.c_str(), &df) == 0)
    o.scan.cluster_size = uint64_t(df.df_bsec) * df.df_sclus;
  if (o.input.empty()) WarnOfExcludesThatNeverMatch(o.path, o.scan);
  if (o.interactive) return Interactive(o);
  if (!o.diff.empty()) return Diff(o);
  if (!o.output.empty()) return Export(o);
  if (!o.html.empty()) return Page(o);
  return View(o);
}

}  // namespace

// Neither message may allocate: memory may be short still.
int main(int argc, char** argv) {
  av = argv;  // messages name the program from the start
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    ReportOutOfMemory();
    return 3;
  } catch (const std::length_error& e) {
    ProgressErase();
    const char* parts[] = {CalledName(), ": cannot hold the tree: ", e.what(), platform::kLineEnd};
    for (const char* part : parts) platform::WriteStderrAsIs(part, std::strlen(part));
    return 2;
  }
}
