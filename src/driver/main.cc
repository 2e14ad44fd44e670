#include <new>

#include "driver/measure.h"
#include "options/front_end.h"
#include "report/diagnostic.h"

int main(int argc, char** argv) {
  try {
    int status = ApplyOptions(argc, argv);
    return status >= 0 ? status : Measure();
  } catch (const std::bad_alloc&) {
    WriteMessage("out of memory", "Abnormal program termination");
    return 3;
  }
}
