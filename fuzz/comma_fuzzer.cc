// Formats 64-bit values from the input with comma and commastr, plain and
// with separators, in the fields of 6 and 10 that the report uses, and holds
// each text against one built digit by digit here.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "driver/opt.h"
#include "fuzz/check.h"
#include "report/comma.h"

namespace {

// commastr's documented room for any value.
constexpr size_t kCommastrBytes = 27;

std::string Digits(uint64_t n) {
  std::string reversed;
  do {
    reversed += static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n);
  return std::string(reversed.rbegin(), reversed.rend());
}

std::string Grouped(const std::string& digits) {
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

// The value that the digits of `text` spell, ignoring blanks and commas; false
// when anything else is in it or the text is not a proper field.
bool ReadBack(const char* text, bool separators, uint64_t* value) {
  size_t i = 0;
  while (text[i] == ' ') ++i;
  size_t first_digit = i;
  *value = 0;
  for (; text[i]; ++i) {
    if (text[i] == ',') {
      if (!separators || i == first_digit || (strlen(text) - i) % 4 != 0) return false;
      continue;
    }
    if (text[i] < '0' || text[i] > '9') return false;
    *value = *value * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  return i > first_digit;
}

void CheckCommastr(uint64_t n) {
  // Exactly the documented room, so that a write past it is caught.
  std::unique_ptr<char[]> buffer(new char[kCommastrBytes]);
  CHECK(commastr(buffer.get(), n) == buffer.get());
  CHECK(buffer.get() == Grouped(Digits(n)));
}

void CheckComma(uint64_t n, bool separators, int width) {
  opt.C = separators;
  std::string number = separators ? Grouped(Digits(n)) : Digits(n);
  size_t field = static_cast<size_t>(separators ? width + (width - 1) / 3 : width);
  std::string expected = std::string(field > number.size() ? field - number.size() : 0, ' ') + number;

  const char* text = comma(n, width);
  CHECK(text == expected);
  // Right-aligned in a field of at least its width, and the digits give n back.
  size_t length = strlen(text);
  CHECK(length >= field);
  CHECK(text[length - 1] != ' ');
  uint64_t back;
  CHECK(ReadBack(text, separators, &back) && back == n);
  CHECK(static_cast<size_t>(FieldWidth(width)) == field);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Every 8 bytes are one value; a short tail is one more.
  for (size_t start = 0; start < size; start += 8) {
    uint64_t n = 0;
    for (size_t i = start; i < size && i < start + 8; ++i) n = n << 8 | data[i];
    CheckCommastr(n);
    for (bool separators : {false, true})
      for (int width : {6, 10}) CheckComma(n, separators, width);
  }
  return 0;
}
