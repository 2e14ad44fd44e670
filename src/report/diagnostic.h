// Failures: each is reported on standard error as "space: <what>: <reason>"
// and turns the exit status to 2.
#pragma once

#include <string>

// `error` is a platform error code, described by the system.
void ReportFailure(const std::string& what, int error);
bool AnyFailure();
