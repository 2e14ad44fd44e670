#include "report/diagnostic.h"

#include "platform/platform.h"
#include "report/out.h"
#include "report/progress.h"

namespace {
bool failed = false;
}

void ReportFailure(const std::string& what, int error) {
  failed = true;
  // Rows printed so far go out first, so that a terminal shows the message
  // where the walk was.
  if (!OutFailed()) OutFlush();
  ProgressErase();
  platform::WriteStderr("space: " + what + ": " + platform::ErrorText(error) + "\n");
}

bool AnyFailure() { return failed; }
