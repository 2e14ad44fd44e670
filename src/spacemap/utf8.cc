#include "spacemap/utf8.h"

#include <algorithm>

size_t Utf8Length(std::string_view s) {
  auto byte = [&s](size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char lead = byte(0);
  size_t length;
  unsigned char low = 0x80, high = 0xbf;  // what the second byte may be
  if (lead < 0x80) return 1;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) low = 0xa0;   // no overlong forms
    if (lead == 0xed) high = 0x9f;  // no surrogates
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (s.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xbf) return 0;
  }
  return length;
}


std::string Shown(std::string_view name, StandIn stand_in) {
  std::string shown;
  shown.reserve(name.size());
  while (!name.empty()) {
    size_t length = Utf8Length(name);
    auto lead = static_cast<unsigned char>(name[0]);
    bool control = length == 1 ? lead < 0x20 || lead == 0x7f
                               : length == 2 && lead == 0xc2 && static_cast<unsigned char>(name[1]) < 0xa0;
    size_t taken = std::max<size_t>(length, 1);
    if (length == 0 || control)
      stand_in(name.substr(0, taken), &shown);
    else
      shown.append(name.data(), length);
    name.remove_prefix(taken);
  }
  return shown;
}

std::string Escaped(std::string_view name) {
  return Shown(name, [](std::string_view bytes, std::string* out) {
    static const char kDigits[] = "0123456789abcdef";
    for (unsigned char byte : bytes) {
      *out += "\\x";
      *out += kDigits[byte >> 4];
      *out += kDigits[byte & 15];
    }
  });
}
