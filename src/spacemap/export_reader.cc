#include "spacemap/export_reader.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace {

constexpr int kEnd = -1;

class Reader {
 public:
  Reader(InputStream* in, ScanSink* sink) : in_(in), sink_(sink) {}

  // [major, minor, {metadata}, [root directory ...]]
  void Run() {
    Expect('[');
    if (ReadUnsigned() != 1) Fail(number_at_, "a major version other than 1");
    Expect(',');
    ReadUnsigned();
    Expect(',');
    SkipValue();
    Expect(',');
    Expect('[');
    EnterDirectory();
    for (uint64_t depth = 1; depth > 0;) {
      if (Peek() == ']') {
        Next();
        dev_.pop_back();
        sink_->Leave();
        --depth;
        continue;
      }
      Expect(',');
      int c = Peek();
      if (c == '[') {
        Next();
        EnterDirectory();
        ++depth;
      } else if (c == '{') {
        Item item = ReadItem();
        sink_->Leaf(item);
      } else {
        Fail(offset_, "expected an entry ('{' or '[')");
      }
    }
    Expect(']');
    if (Peek() != kEnd) Fail(offset_, "expected the end of the file");
  }

 private:
  [[noreturn]] void Fail(uint64_t offset, const std::string& what) { throw MalformedExport(offset, what); }

  int Raw() {
    if (pos_ == size_) {
      size_ = in_->Read(buffer_, sizeof buffer_);
      pos_ = 0;
      if (size_ == 0) return kEnd;
    }
    return static_cast<unsigned char>(buffer_[pos_]);
  }
  void Next() {
    ++pos_;
    ++offset_;
  }
  // The next byte that is not white space, left unread.
  int Peek() {
    for (;;) {
      int c = Raw();
      if (c != ' ' && c != '\n' && c != '\r' && c != '\t') return c;
      Next();
    }
  }
  void Expect(char wanted) {
    if (Peek() != wanted) Fail(offset_, std::string("expected '") + wanted + "'");
    Next();
  }

  // A JSON number of a field this program uses: a whole number, whichever
  // way JSON writes it (1000, 1e3, 1.5e3), or the reading stops there.
  uint64_t ReadUnsigned() {
    number_at_ = offset_;
    if (Peek() == '-') Fail(offset_, "expected a number");
    Number number = ScanNumber();
    if (number.exponent < 0) Fail(number_at_, "a number that is not whole");
    uint64_t value = number.digits;
    for (int64_t e = 0; e < number.exponent && value; ++e) {
      if (value > UINT64_MAX / 10) Fail(number_at_, "a number too large");
      value *= 10;
    }
    return value;
  }

  // A number as JSON writes it: its significant digits (trailing zeros
  // moved into the exponent) and its power of ten.
  struct Number {
    uint64_t digits = 0;
    int64_t exponent = 0;
  };

  Number ScanNumber() {
    number_at_ = offset_;
    Number number;
    if (Peek() == '-') Next();
    if (!IsDigit(Raw())) Fail(offset_, "expected a number");
    bool leading_zero = Raw() == '0';
    ScanDigits(&number, 0);
    if (leading_zero && number.digits) Fail(number_at_, "a number with a leading zero");
    if (Raw() == '.') {
      Next();
      if (!IsDigit(Raw())) Fail(offset_, "expected a digit");
      ScanDigits(&number, -1);
    }
    if (Raw() == 'e' || Raw() == 'E') {
      Next();
      bool negative = Raw() == '-';
      if (negative || Raw() == '+') Next();
      if (!IsDigit(Raw())) Fail(offset_, "expected a digit");
      int64_t exponent = 0;
      for (int c; IsDigit(c = Raw()); Next()) exponent = std::min<int64_t>(exponent * 10 + (c - '0'), kExponentCap);
      number.exponent += negative ? -exponent : exponent;
    }
    while (number.digits && number.digits % 10 == 0 && number.exponent < 0) {
      number.digits /= 10;
      ++number.exponent;
    }
    if (number.digits == 0) number.exponent = 0;
    return number;
  }

  // Digits of the whole part (`step` 0) or the fraction (`step` -1). Zeros
  // beyond what 64 bits hold count in the exponent (or, in the fraction,
  // not at all); any other digit there is beyond what a size may be.
  void ScanDigits(Number* number, int step) {
    for (int c; IsDigit(c = Raw()); Next()) {
      auto digit = static_cast<uint64_t>(c - '0');
      if (number->digits < UINT64_MAX / 10 || (number->digits == UINT64_MAX / 10 && digit <= UINT64_MAX % 10)) {
        number->digits = number->digits * 10 + digit;
        number->exponent += step;
      } else if (digit != 0) {
        Fail(number_at_, "a number too large");
      } else if (step == 0) {
        number->exponent = std::min<int64_t>(number->exponent + 1, kExponentCap);
      }
    }
  }

  static bool IsDigit(int c) { return c >= '0' && c <= '9'; }

  void ReadLiteral(const char* word) {
    for (const char* p = word; *p; ++p) {
      if (Raw() != *p) Fail(offset_, std::string("expected '") + word + "'");
      Next();
    }
  }
  bool ReadBool() {
    if (Peek() == 't') {
      ReadLiteral("true");
      return true;
    }
    if (Raw() == 'f') {
      ReadLiteral("false");
      return false;
    }
    ReadLiteral("null");
    return false;
  }

  unsigned ReadHex4() {
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
      int c = Raw();
      int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (digit < 0) Fail(offset_, "expected a hexadecimal digit");
      value = value * 16 + static_cast<unsigned>(digit);
      Next();
    }
    return value;
  }

  void AppendUtf8(unsigned code, std::string* out) {
    if (code < 0x80) {
      out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out->push_back(static_cast<char>(0xC0 | code >> 6));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | code >> 12));
      out->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | code >> 18));
      out->push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }

  // A string's bytes as they are, escapes undone.
  void ReadString(std::string* out) {
    out->clear();
    Expect('"');
    for (;;) {
      uint64_t at = offset_;
      int c = Raw();
      if (c == kEnd) Fail(at, "a string without its end");
      Next();
      if (c == '"') return;
      if (c < 0x20) Fail(at, "a control byte inside a string");
      if (c != '\\') {
        out->push_back(static_cast<char>(c));
        if (out->size() > kMaxString) Fail(at, "a string longer than 64 KiB");
        continue;
      }
      int e = Raw();
      Next();
      switch (e) {
        case '"': case '\\': case '/': out->push_back(static_cast<char>(e)); break;
        case 'b': out->push_back('\b'); break;
        case 'f': out->push_back('\f'); break;
        case 'n': out->push_back('\n'); break;
        case 'r': out->push_back('\r'); break;
        case 't': out->push_back('\t'); break;
        case 'u': AppendEscaped(at, out); break;
        default: Fail(at, "an unknown escape in a string");
      }
    }
  }

  void AppendEscaped(uint64_t at, std::string* out) {
    unsigned code = ReadHex4();
    if (code == 0) Fail(at, "a NUL byte inside a string");
    if (code >= 0xD800 && code < 0xDC00 && Raw() == '\\') {
      Next();
      if (Raw() != 'u') Fail(offset_, "expected the second half of a surrogate pair");
      Next();
      unsigned low = ReadHex4();
      if (low < 0xDC00 || low >= 0xE000) Fail(at, "a surrogate pair without its second half");
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    AppendUtf8(code, out);
  }

  // Any value, nested at any depth: the containers open are a stack of
  // their kinds, not a chain of calls.
  void SkipValue() {
    std::string& open = skip_stack_;
    open.clear();
    for (;;) {
      int c = Peek();
      if (c == '{' || c == '[') {
        Next();
        if (Peek() != (c == '{' ? '}' : ']')) {
          open.push_back(static_cast<char>(c));
          if (c == '{') ReadMemberName();
          continue;
        }
        Next();
      } else if (c == '"') {
        ReadString(&scratch_);
      } else if (IsDigit(c) || c == '-') {
        ScanNumber();
      } else if (c == 't' || c == 'f' || c == 'n') {
        ReadBool();
      } else {
        Fail(offset_, "expected a value");
      }
      // After a value: the ends of what holds it, or its next member.
      for (;;) {
        if (open.empty()) return;
        char kind = open.back();
        if (Peek() == (kind == '{' ? '}' : ']')) {
          Next();
          open.pop_back();
          continue;
        }
        Expect(',');
        if (kind == '{') ReadMemberName();
        break;
      }
    }
  }

  void ReadMemberName() {
    ReadString(&key_);
    Expect(':');
  }

  Excluded ExclusionOf(const std::string& kind) {
    if (kind == "otherfs") return Excluded::kOtherFileSystem;
    if (kind == "kernfs") return Excluded::kKernelFileSystem;
    return Excluded::kPattern;
  }

  // ncdu -e's fields, and gdu's time; false when `key_` names none.
  bool ReadExtended(Extended* ext) {
    if (key_ == "mtime") {
      ext->mtime = static_cast<int64_t>(std::min<uint64_t>(ReadUnsigned(), INT64_MAX));
      ext->known |= Extended::kMtime;
    } else if (key_ == "uid") {
      ext->uid = static_cast<uint32_t>(std::min<uint64_t>(ReadUnsigned(), UINT32_MAX));
      ext->known |= Extended::kUid;
    } else if (key_ == "gid") {
      ext->gid = static_cast<uint32_t>(std::min<uint64_t>(ReadUnsigned(), UINT32_MAX));
      ext->known |= Extended::kGid;
    } else if (key_ == "mode") {
      ext->mode = static_cast<uint32_t>(std::min<uint64_t>(ReadUnsigned(), UINT32_MAX));
      ext->known |= Extended::kMode;
    } else {
      return false;
    }
    return true;
  }

  Item ReadItem() {
    uint64_t start = offset_;
    Expect('{');
    Item item;
    bool named = false, hard_link = false, nlink_given = false;
    item.dev = dev_.empty() ? 0 : dev_.back();
    if (Peek() != '}') {
      for (;;) {
        ReadMemberName();
        if (key_ == "name") {
          ReadString(&name_);
          named = true;
        } else if (key_ == "asize") {
          item.asize = ReadUnsigned();
        } else if (key_ == "dsize") {
          item.dsize = ReadUnsigned();
        } else if (key_ == "dev") {
          item.dev = ReadUnsigned();
        } else if (key_ == "ino") {
          item.ino = ReadUnsigned();
        } else if (key_ == "nlink") {
          item.nlink = static_cast<uint32_t>(std::min<uint64_t>(ReadUnsigned(), UINT32_MAX));
          nlink_given = true;
        } else if (key_ == "hlnkc") {
          hard_link = ReadBool();
        } else if (key_ == "read_error") {
          item.read_error = ReadBool();
        } else if (key_ == "notreg") {
          item.notreg = ReadBool();
        } else if (key_ == "excluded") {
          ReadString(&scratch_);
          item.excluded = ExclusionOf(scratch_);
        } else if (!ReadExtended(&item.ext)) {
          SkipValue();
        }
        if (Peek() == '}') break;
        Expect(',');
      }
    }
    Next();
    if (!named || name_.empty()) Fail(start, "an entry without a name");
    if (name_.find('\0') != std::string::npos) Fail(start, "a name holding a NUL byte");
    // gdu's exports and older ones mark a file with several names without
    // their count, which is then left untold rather than made up.
    if (!hard_link) item.nlink = 1;
    else if (!nlink_given) item.nlink = 0;
    else if (item.nlink < 2) item.nlink = 2;
    item.name = name_;
    return item;
  }

  void EnterDirectory() {
    if (Peek() != '{') Fail(offset_, "expected a directory's entry ('{')");
    Item item = ReadItem();
    dev_.push_back(item.dev);
    sink_->Enter(item);
  }

  static constexpr size_t kMaxString = 64 * 1024;
  static constexpr int64_t kExponentCap = 1000000;
  InputStream* in_;
  ScanSink* sink_;
  char buffer_[64 * 1024];
  size_t pos_ = 0, size_ = 0;
  uint64_t offset_ = 0, number_at_ = 0;
  std::string key_, name_, scratch_, skip_stack_;
  std::vector<uint64_t> dev_;
};

}  // namespace

void ReadExport(InputStream* in, ScanSink* sink) { Reader(in, sink).Run(); }
