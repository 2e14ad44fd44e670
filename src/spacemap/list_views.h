// The views that list what a scan holds across its tree rather than
// directory by directory.
#pragma once

#include "spacemap/largest.h"
#include "spacemap/types.h"
#include "spacemap/view.h"

// The start with the scan's total, then each of the largest files with its
// share of that total and its path below the start.
void PrintLargest(const LargestFiles& largest, const ViewChoices& choices);

// The start with the scan's total, then each group of kinds with its files
// and, to a depth of 1, its extensions (up to --top of them), each with its
// share of the total; the directories themselves take a line of their own.
void PrintTypes(const TypeTotals& types, const ViewChoices& choices);
