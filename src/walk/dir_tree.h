// space's rows over a directory tree.
#pragma once

#include <cstdint>

#include "walk/files.h"

// Measures the tree below `pathname`, counting in clusters of `clsiz` bytes
// (bytes when 0), and prints a row for each directory after the rows of
// everything inside it, and with opt.f a row for each file. Returns the
// total of every file at every depth.
files_t DirTree(const char* pathname, uint32_t clsiz);
