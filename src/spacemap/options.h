// The command line and the SPACEMAP variable: GNU-style short and long
// options, read by CLI11.
#pragma once

#include <string>
#include <vector>

#include "spacemap/age_filter.h"
#include "spacemap/scan.h"
#include "spacemap/view.h"

struct Options {
  std::string path = ".";
  ScanChoices scan;
  ViewChoices view;
  bool count_links = false;
  bool extended = false;            // -e: time, owner and mode in the export and the tree
  std::string output;               // -o: an export, "-" standard output
  bool compress = false;            // --compress: zstd, where the name does not say
  std::string input;                // -f: an export read instead of a walk
  std::string html;                 // --html: the treemap page, "-" standard output
  std::vector<std::string> diff;    // --diff: old and new
  AgeBounds age;                    // --older-than, --newer-than
  bool interactive = false;         // -i: the browser instead of a printed view
};

// Words of the variable first, so that the command line overrides them;
// the variable is split at blanks, without quoting. Returns -1 to go on,
// else the exit status: 0 after --help or --version, 2 after an error,
// which it reports.
int ParseOptions(const std::vector<std::string>& arguments, const std::string& variable, Options* options);
