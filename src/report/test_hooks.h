// Hooks for a process that makes more than one report, as the unit tests
// do: the tool itself makes one and never calls them.
#pragma once

// Drops what the output stream has buffered and forgets a failed write.
void OutReset();
// Forgets the failures reported so far.
void ForgetFailures();
