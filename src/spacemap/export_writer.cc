#include "spacemap/export_writer.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr size_t kFlushBytes = 64 * 1024;

const char* ExclusionName(Excluded excluded) {
  switch (excluded) {
    case Excluded::kPattern: return "pattern";
    case Excluded::kOtherFileSystem: return "otherfs";
    case Excluded::kKernelFileSystem: return "kernfs";
    case Excluded::kNo: break;
  }
  return "";
}

}  // namespace

void AppendJsonString(std::string_view name, std::string* out) {
  static const char kHex[] = "0123456789abcdef";
  out->push_back('"');
  for (char ch : name) {
    unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': *out += "\\\""; break;
      case '\\': *out += "\\\\"; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      case '\t': *out += "\\t"; break;
      case '\b': *out += "\\b"; break;
      case '\f': *out += "\\f"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          *out += "\\u00";
          out->push_back(kHex[c >> 4]);
          out->push_back(kHex[c & 15]);
        } else {
          out->push_back(ch);
        }
    }
  }
  out->push_back('"');
}

ExportWriter::ExportWriter(OutputStream* out, const char* version, int64_t timestamp, bool extended)
    : out_(out), extended_(extended) {
  buffer_ = "[1,2,{\"progname\":\"spacemap\",\"progver\":\"";
  buffer_ += version;
  buffer_ += "\",\"timestamp\":";
  char digits[24];
  buffer_.append(digits, std::to_chars(digits, digits + sizeof digits, timestamp).ptr);
  buffer_ += "}";
}

void ExportWriter::Number(const char* key, uint64_t value) {
  buffer_ += ",\"";
  buffer_ += key;
  buffer_ += "\":";
  char digits[24];
  buffer_.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

// In ncdu's order. A time before 1970 is written as 0, since ncdu reads
// no sign.
void ExportWriter::ExtendedFields(const Extended& ext) {
  if (ext.known & Extended::kUid) Number("uid", ext.uid);
  if (ext.known & Extended::kGid) Number("gid", ext.gid);
  if (ext.known & Extended::kMode) Number("mode", ext.mode);
  if (ext.known & Extended::kMtime) Number("mtime", static_cast<uint64_t>(std::max<int64_t>(ext.mtime, 0)));
}

// As ncdu writes it: sizes only when not 0, a directory's device only where
// it differs from its parent's, the inode and link count only for a file
// with several names.
void ExportWriter::Object(const Item& item, bool dir) {
  buffer_ += "{\"name\":";
  AppendJsonString(item.name, &buffer_);
  if (item.excluded != Excluded::kNo) {
    buffer_ += ",\"excluded\":\"";
    buffer_ += ExclusionName(item.excluded);
    buffer_ += "\"}";
    return;
  }
  if (item.asize) Number("asize", item.asize);
  if (item.dsize) Number("dsize", item.dsize);
  if (dir && (dirs_dev_.empty() || dirs_dev_.back() != item.dev)) Number("dev", item.dev);
  if (extended_) ExtendedFields(item.ext);
  if (!dir && SharesIdentity(item)) {
    Number("ino", item.ino);
    buffer_ += ",\"hlnkc\":true";
    if (item.nlink) Number("nlink", item.nlink);
  }
  if (item.read_error) buffer_ += ",\"read_error\":true";
  if (item.notreg) buffer_ += ",\"notreg\":true";
  buffer_ += "}";
}

void ExportWriter::Enter(const Item& dir) {
  buffer_ += ",\n[";
  Object(dir, true);
  dirs_dev_.push_back(dir.dev);
}

void ExportWriter::Leaf(const Item& item) {
  buffer_ += ",\n";
  Object(item, false);
  if (buffer_.size() >= kFlushBytes) Flush();
}

void ExportWriter::Leave() {
  buffer_ += "]";
  dirs_dev_.pop_back();
  if (buffer_.size() >= kFlushBytes) Flush();
}

void ExportWriter::Flush() {
  if (!failed_ && !out_->Write(buffer_.data(), buffer_.size())) failed_ = true;
  buffer_.clear();
}

bool ExportWriter::Finish() {
  buffer_ += "]\n";
  Flush();
  if (!out_->Finish()) failed_ = true;
  return !failed_;
}
