// The views that list what a scan holds across its tree rather than
// directory by directory.
#pragma once

#include "spacemap/largest.h"
#include "spacemap/view.h"

// The start with the scan's total, then each of the largest files with its
// share of that total and its path below the start.
void PrintLargest(const LargestFiles& largest, const ViewChoices& choices);
