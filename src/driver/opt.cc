#include "driver/opt.h"

#include <new>

#include "options/ascii.h"
#include "platform/drive.h"

TOpt opt;

TOpt::TOpt()
    : drive(static_cast<unsigned>(platform::getdisk() + 'A')),
      pathname("."),
      use_c(0), c(0), f(0), t(0), b(0), C(0), n(0), p(0), g(0), s(0), h(0) {
  // Made before main, where running out of memory could only abort: the
  // run then stays where it is.
  try {
    if (!platform::getcwd(&startpath)) startpath.clear();
  } catch (const std::bad_alloc&) {
    startpath.clear();
  }
}

TOpt::~TOpt() {
  if (startpath.empty()) return;
  platform::setdisk(static_cast<unsigned char>(AsciiUpper(startpath[0])) - 'A');
  platform::chdir(startpath.c_str());
}
