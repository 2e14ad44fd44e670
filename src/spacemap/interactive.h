// spacemap -i: the browser on the terminal, over a scan made meanwhile on a
// thread of its own, or over the comparison of two scans.
#pragma once

#include <functional>
#include <string>

#include "spacemap/options.h"
#include "spacemap/scan_sink.h"
#include "spacemap/tree.h"

// Tells a sink the scan: the walk, or the export read back; false after
// reporting why it could not.
using ScanLoader = std::function<bool(ScanSink*)>;

// Browses the scan of `start` (a directory walked or an export read, as
// `walked` says) while `load` makes it. The exit status.
int BrowseScan(const Options& o, const std::string& start, bool walked, const ScanLoader& load);
// Browses the difference of two scans, read-only.
int BrowseDiff(const Options& o, const Tree& old_tree, const Tree& new_tree);
