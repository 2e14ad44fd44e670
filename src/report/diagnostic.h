// Failures: each is reported on standard error as "<name>: <what>: <reason>",
// <name> the one the program was called by, and turns the exit status to 2.
#pragma once

#include <string>

// `error` is a platform error code, described by the system.
void ReportFailure(const std::string& what, int error);
// Writes one message line without changing the exit status.
void WriteMessage(const std::string& what, const std::string& reason);
bool AnyFailure();
// Memory ran out: the last message of the run, written without allocating.
void ReportOutOfMemory();
