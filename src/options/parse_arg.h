// Applying one argument, or the environment option string, to `opt`.
#pragma once

// Toggles a flag; returns its new value.
int flip(int& x);

// The bytes per cluster of drive `drive` (a letter of either case, or '@' for
// the current drive); 0 when it cannot be queried.
long GetClusterSize(unsigned drive);

// An argument starting with an option prefix ("-", and "/" where paths do
// not start with it) is a run of option letters, anything else the start
// path. Returns 1 when the help was printed and the run must
// end, otherwise 0.
int ParseArg(const char* arg);
