#include <new>

#include "driver/measure.h"
#include "options/cmdname.h"
#include "options/front_end.h"
#include "report/diagnostic.h"

int main(int argc, char** argv) {
  av = argv;  // messages name the program from the start
  try {
    int status = ApplyOptions(argc, argv);
    return status >= 0 ? status : Measure();
  } catch (const std::bad_alloc&) {
    ReportOutOfMemory();
    return 3;
  }
}
