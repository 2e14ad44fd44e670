#include "report/diagnostic.h"

#include <cstring>

#include "options/cmdname.h"
#include "platform/console.h"
#include "platform/error_text.h"
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
  WriteMessage(what, platform::ErrorText(error));
}

void WriteMessage(const std::string& what, const std::string& reason) {
  ProgressErase();
  platform::WriteStderr(std::string(CalledName()) + ": " + what + ": " + reason + "\n");
}

bool AnyFailure() { return failed; }

void ReportOutOfMemory() {
  ProgressErase();
  const char* parts[] = {CalledName(), ": out of memory: Abnormal program termination", platform::kLineEnd};
  for (const char* part : parts) platform::WriteStderrAsIs(part, strlen(part));
}
