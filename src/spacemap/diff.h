// Where the space went between two scans: the entries to a depth whose
// size changed, largest change first, with both sizes.
#pragma once

#include "spacemap/tree.h"
#include "spacemap/view.h"

void PrintDiff(const Tree& old_tree, const Tree& new_tree, const ViewChoices& choices);
