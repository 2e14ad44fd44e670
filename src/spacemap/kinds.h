// Kinds of files by their extension: the groups that the treemap page
// colours and that --types sums, defined once here for both.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct KindGroup {
  const char* name;
  const char* extensions;  // lower case, separated by blanks
};
extern const KindGroup kKindGroups[];
extern const size_t kKindGroupCount;

// What follows a name's last dot (a version after it passed over), where
// that is not its first byte; empty when there is none. As the file system
// compares names: in any case on Win32, where it is folded to lower case.
std::string ExtensionOf(std::string_view name);
// The group of an extension, in any case: its index in kKindGroups, 0 (the
// group of everything else) when it is in none.
size_t GroupOf(std::string_view extension);
