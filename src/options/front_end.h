#pragma once

// Applies the environment option string and then each command-line argument
// to `opt`, and enters the start path for -p. Returns -1 when the run goes on
// to measure, else the exit status that ends it (1 after the help, 2 when the
// start path cannot be entered).
int ApplyOptions(int argc, char** argv);
