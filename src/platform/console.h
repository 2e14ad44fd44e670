// Standard output and standard error, and the terminal or console they may
// show on: what is written there, how wide it is, and the progress line an
// interrupt erases.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// True when standard output is a terminal or console that a person watches.
bool StdoutIsInteractive();
// True when standard output is a terminal or console that shows ANSI colour
// sequences (on Win32, once asked to).
bool StdoutShowsColour();
// Writes report bytes to standard output. 0 or an error code.
int WriteStdout(const char* data, size_t size);
// Writes text held in code page 932 to standard output, converted to what
// the user's terminal or locale shows. 0 or an error code.
int WriteCp932(const char* data, size_t size);
// From the first call on, a console shows what WriteStdout writes as UTF-8
// rather than text of the code page; files and pipes get the bytes as they are.
void StdoutInUtf8();
// Makes the C library's standard input and output carry bytes as they
// are, for a file read or written through them ("-").
void BinaryStdio();
// Writes a message to standard error.
void WriteStderr(const std::string& text);
// Writes ASCII bytes to standard error as they are, allocating nothing: for
// erasing the progress line and for the message that memory ran out.
void WriteStderrAsIs(const char* data, size_t size);
// What ends a line on standard error, written as is.
extern const char kLineEnd[];

// For the progress line a person watching a long run sees on standard error:
// the columns of the terminal or console that standard error shows on, 0
// when it goes elsewhere (a file, a pipe, a log).
int StderrTerminalWidth();
// The same for standard output, for reports that fit their lines to it.
int StdoutTerminalWidth();
// True when standard output shows on the same terminal or console as
// standard error, so that rows and the progress line share one screen.
bool StdoutSharesStderrTerminal();
// True when standard output is a pipe or a socket: the program reading it
// may show the rows on the terminal of the progress line, unaware of it.
bool StdoutIsPipe();
// From the first call on, an interrupt (SIGINT, SIGTERM, SIGHUP, SIGQUIT; a
// console control event on Win32) writes "\r", `columns` blanks and "\r" to
// standard error, erasing the progress line, and then ends the process as
// it would have without. Each call replaces `columns`; 0 writes nothing.
void EraseOnInterrupt(size_t columns);

}  // namespace platform
