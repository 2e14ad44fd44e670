#pragma once

// Measures the tree that `opt` names and prints the report: the cluster size
// line, the headings, the rows, the total and the free space. Returns the
// exit status: 0, or 2 when something could not be read or written.
int Measure();
