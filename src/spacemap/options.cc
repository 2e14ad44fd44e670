#include "spacemap/options.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <sstream>

#include "platform/platform.h"
#include "report/diagnostic.h"

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

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

}  // namespace

int ParseOptions(const std::vector<std::string>& arguments, const std::string& variable, Options* o) {
  CLI::App app("Shows where the space of a directory tree goes, largest first.", "spacemap");
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.set_version_flag("-V,--version", "spacemap " SPACE_VERSION);
  app.add_option("path", o->path, "the directory to measure (default: the current one)")->type_name("");
  app.add_option("-d,--max-depth", o->view.depth, "levels of the tree shown below the start (default 1)")
      ->type_name("N");
  app.add_option("--top", o->view.top, "entries shown per directory, the rest in one line (default 20)")
      ->check(CLI::Validator(
          [](std::string& value) { return value.find_first_not_of('0') == std::string::npos ? "must be at least 1" : ""; },
          ""))
      ->type_name("N");
  auto* si = app.add_flag("--si", "powers of 1000 rather than 1024");
  auto* bytes = app.add_flag("-b,--bytes", "sizes in bytes (over --si)");
  app.add_flag("-x,--one-file-system", o->scan.one_file_system, "stay on the start's file system");
  std::vector<std::string> excludes;
  app.add_option("--exclude", excludes, "leave out names matching PATTERN (repeatable)")
      ->allow_extra_args(false)
      ->type_name("PATTERN")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  std::vector<std::string> exclude_files;
  app.add_option("--exclude-from", exclude_files, "leave out names matching a pattern of FILE, one a line")
      ->allow_extra_args(false)
      ->type_name("FILE")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_flag("-l,--count-links", o->count_links, "count every name of a file with several");
  auto* apparent = app.add_flag("--apparent-size", "sort and show apparent sizes, not space on disk");
  uint64_t cluster = 0;
  auto* cluster_option =
      app.add_option("--cluster-size", cluster, "count files by their size rounded up to N bytes (0: bytes)")
          ->type_name("N");
  auto* output = app.add_option("-o,--output", o->output, "write the scan to FILE as a JSON export ('-': stdout)")
                    ->type_name("FILE");
  auto* input = app.add_option("-f,--file", o->input, "read a JSON export instead of walking ('-': stdin)")
                   ->type_name("FILE");
  auto* diff = app.add_option("--diff", o->diff, "compare two exports, or an export and a directory")
                   ->expected(2)
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
