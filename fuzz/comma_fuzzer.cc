// Formats 64-bit values from the input with comma and commastr, plain and
// with separators, in the fields of 6 and 10 that the report uses, and holds
// each text against one built digit by digit here.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "driver/opt.h"
#include "fuzz/check.h"
#include "report/comma.h"

namespace {

std::string Digits(uint64_t n, bool separators) {
  std::string reversed;
  for (int i = 0; i == 0 || n; ++i, n /= 10) {
    if (separators && i > 0 && i % 3 == 0) reversed += ',';
    reversed += static_cast<char>('0' + n % 10);
  }
  return std::string(reversed.rbegin(), reversed.rend());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Every 8 bytes are one value; a short tail is one more.
  for (size_t start = 0; start < size; start += 8) {
    uint64_t n = 0;
    for (size_t i = start; i < size && i < start + 8; ++i) n = n << 8 | data[i];
    // Exactly the documented room, so that a write past it is caught.
    std::unique_ptr<char[]> buffer(new char[27]);
    CHECK(commastr(buffer.get(), n) == buffer.get() && buffer.get() == Digits(n, true));
    for (bool separators : {false, true}) {
      for (int width : {6, 10}) {
        opt.C = separators;
        std::string number = Digits(n, separators);
        size_t field = static_cast<size_t>(separators ? width + (width - 1) / 3 : width);
        CHECK(static_cast<size_t>(FieldWidth(width)) == field);
        CHECK(comma(n, width) == std::string(field > number.size() ? field - number.size() : 0, ' ') + number);
      }
    }
  }
  return 0;
}
