#include <new>

#include "driver/measure.h"
#include "options/front_end.h"
#include "platform/platform.h"
#include "report/progress.h"

int main(int argc, char** argv) {
  try {
    int status = ApplyOptions(argc, argv);
    return status >= 0 ? status : Measure();
  } catch (const std::bad_alloc&) {
    ProgressErase();
    platform::WriteStderr("space: out of memory: Abnormal program termination\n");
    return 3;
  }
}
