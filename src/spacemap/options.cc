#include "spacemap/options.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <sstream>

#include "report/diagnostic.h"
#include "spacemap/codec.h"
#include "spacemap/duration.h"

namespace {

// One pattern a line; blank lines and lines starting with '#' say nothing.
bool ReadPatterns(const std::string& file, std::vector<std::string>* patterns) {
  std::FILE* in = std::fopen(file.c_str(), "rb");
  if (!in) {
    ReportFailure("cannot read '" + file + "'", errno);
    return false;
  }
  std::string line;
  for (int c; (c = std::fgetc(in)) != EOF;) {
    if (c != '\n') {
      line.push_back(static_cast<char>(c));
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] != '#') patterns->push_back(line);
    line.clear();
  }
  if (!line.empty() && line[0] != '#') patterns->push_back(line);
  bool failed = std::ferror(in);
  std::fclose(in);
  if (failed) ReportFailure("cannot read '" + file + "'", EIO);
  return !failed;
}

// A count as a whole number written in digits: CLI11 would take "-1" for
// an unsigned number's largest value.
CLI::Validator WholeNumber(bool at_least_one) {
  return CLI::Validator(
      [at_least_one](std::string& value) -> std::string {
        if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) return "must be a whole number";
        if (at_least_one && value.find_first_not_of('0') == std::string::npos) return "must be at least 1";
        return "";
      },
      "");
}

// The help as du's reads: an option, the word for its value, what it does;
// without CLI11's notes on repetition and exclusion.
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_option_opts(const CLI::Option* option) const override {
    return option->get_type_name().empty() ? "" : " " + option->get_type_name();
  }
};

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// An age such as 90d, as the second that many seconds before now.
CLI::Validator Age(std::optional<int64_t>* bound) {
  return CLI::Validator(
      [bound](std::string& value) {
        int64_t seconds;
        if (!ParseDuration(value, &seconds)) return std::string("must be a number and a unit (s h d w m y), as 90d");
        *bound = static_cast<int64_t>(std::time(nullptr)) - seconds;
        return std::string();
      },
      "");
}

}  // namespace

int ParseOptions(const std::vector<std::string>& arguments, const std::string& variable, Options* o) {
  CLI::App app("Shows where the space of a directory tree goes, largest first.", "spacemap");
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.set_version_flag("-V,--version", "spacemap " SPACE_VERSION);
  app.formatter(std::make_shared<HelpFormatter>());
  app.add_option("path", o->path, "the directory to measure (default: the current one)")
      ->check(CLI::Validator([](std::string& value) { return value.empty() ? "an empty name names no directory" : ""; },
                             ""))
      ->type_name("");
  app.add_option("-d,--max-depth", o->view.depth, "levels of the tree shown below the start (default 1)")
      ->check(WholeNumber(false))
      ->type_name("N");
  app.add_option("--top", o->view.top, "entries shown per directory, the rest in one line (default 20)")
      ->check(WholeNumber(true))
      ->type_name("N");
  auto* largest =
      app.add_option("--largest", o->view.largest, "the N largest files of the whole scan, wherever they lie")
          ->check(WholeNumber(true))
          ->type_name("N");
  auto* types = app.add_flag("--types", o->view.types, "space by kind of file: extensions and their groups")
                    ->excludes(largest);
  std::string age_text;  // what the validators read: the bounds are their work
  app.add_option("--older-than", age_text, "only files last modified more than DURATION ago (90d, 6m, 1y)")
      ->check(Age(&o->age.before))
      ->type_name("DURATION");
  app.add_option("--newer-than", age_text, "only files last modified less than DURATION ago")
      ->check(Age(&o->age.after))
      ->type_name("DURATION");
  app.add_flag("--time", o->view.time, "show each entry's newest time of modification");
  auto* si = app.add_flag("--si", "powers of 1000 rather than 1024");
  auto* bytes = app.add_flag("-b,--bytes", "sizes in bytes (over --si)");
  app.add_flag("-x,--one-file-system", o->scan.one_file_system, "stay on the start's file system");
  std::vector<std::string> excludes;
  app.add_option("--exclude", excludes, "leave out names matching PATTERN, paths if it has a '/' (repeatable)")
      ->allow_extra_args(false)
      ->type_name("PATTERN")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  std::vector<std::string> exclude_files;
  app.add_option("--exclude-from", exclude_files, "leave out names matching a pattern of FILE, one a line")
      ->allow_extra_args(false)
      ->type_name("FILE")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_flag("--exclude-caches", o->scan.exclude_caches, "leave out directories holding a valid CACHEDIR.TAG");
  app.add_flag("--exclude-hidden", o->scan.exclude_hidden, "leave out names starting with '.'");
  app.add_flag("-l,--count-links", o->count_links, "count a file with several names once for each");
  auto* apparent = app.add_flag("--apparent-size", "sort and show apparent sizes, not space on disk");
  uint64_t cluster = 0;
  auto* cluster_option =
      app.add_option("--cluster-size", cluster, "count files by their size rounded up to N bytes (0: bytes)")
          ->check(WholeNumber(false))
          ->type_name("N");
  auto* output = app.add_option("-o,--output", o->output, "write the scan to FILE as a JSON export ('-': stdout)")
                    ->type_name("FILE");
  app.add_flag("--compress", o->compress,
               kCodecsBuiltIn ? "compress the export with zstd (as a name ending .zst does; .gz: gzip)"
                              : "compressed exports: not in this build (no zstd or zlib)")
      ->needs(output);
  app.add_flag("-e,--extended", o->extended, "keep each entry's time, owner and mode, and export them");
  auto* input = app.add_option("-f,--file", o->input, "read a JSON export, plain or compressed, instead of walking ('-': stdin)")
                   ->type_name("FILE");
  auto* diff = app.add_option("--diff", o->diff, "compare two exports, or an export and a directory")
                   ->expected(2)
                   ->multi_option_policy(CLI::MultiOptionPolicy::Throw)
                   ->type_name("OLD NEW")
                   ->excludes(input)
                   ->excludes(output);
  auto* html = app.add_option("--html", o->html, "write the treemap page of the scan to FILE ('-': stdout)")
                  ->type_name("FILE")
                  ->excludes(output)
                  ->excludes(diff);
  app.add_flag("-i,--interactive", o->interactive, "browse the scan on the terminal, and delete from it")
      ->excludes(output)
      ->excludes(html);
  app.get_option("path")->excludes(input)->excludes(diff);
  for (CLI::Option* view : {largest, types}) view->excludes(output)->excludes(diff);

  std::vector<std::string> words = Words(variable);
  words.insert(words.end(), arguments.begin() + 1, arguments.end());
  std::reverse(words.begin(), words.end());  // as CLI11 takes them
  try {
    app.parse(words);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    WriteMessage("command line", std::string(e.what()) + " (see --help)");
    return 2;
  }
  if (*si) o->view.units = Units::kSi;
  if (*bytes) o->view.units = Units::kBytes;
  if (*apparent) o->view.key = SortKey::kApparent;
  if (*cluster_option) o->scan.cluster_size = cluster ? cluster : 1;
  o->scan.excludes = excludes;
  for (const std::string& file : exclude_files)
    if (!ReadPatterns(file, &o->scan.excludes)) return 2;
  return -1;
}
