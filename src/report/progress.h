// The progress line: while a long run reads its tree, a person at a terminal
// sees on standard error how many directories, files and bytes it has read
// and where it is. Only when standard error is a terminal and standard
// output no pipe, never before the run has lasted a second, and never on
// standard output. An interrupt erases it before it ends the run.
#pragma once

#include <cstdint>
#include <string_view>

// The walk calls these as it starts on each directory, and after counting
// each file.
void ProgressDirectory();
void ProgressFile(uint64_t size);
// Where the walk is: the directory it counts files of now, as its row names
// it. The text is read only when the line is drawn, so that a deep walk does
// not copy its whole path at every step: it must stay as it is until the
// next call.
void ProgressAt(std::string_view path);
// Erases the line if it is shown: before rows go to the same terminal,
// before a message, and at the end of the walk.
void ProgressErase();
