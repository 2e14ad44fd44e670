// The help text, in Japanese.
#pragma once

#include <string>

// The help as the code page 932 bytes that it is written in.
std::string UsageText();
// Prints the help; returns 1, the status that ends the run.
int Usage();
