// Damaged exports end in MalformedExport at an offset inside them, never in
// a crash, and what the sink is told always nests.
#include "spacemap/export_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "spacemap/export_writer.h"

namespace {

class NestingSink : public ScanSink {
 public:
  void Enter(const Item&) override { ++open; }
  void Leaf(const Item&) override { ASSERT_GT(open, 0); }
  void Leave() override { ASSERT_GT(open--, 0); }
  int open = 0;
};

std::string SampleExport() {
  std::FILE* file = std::tmpfile();
  OutputStream out(file, Compression::kNone);
  ExportWriter writer(&out, "1", 0);
  Item item;
  item.name = "/start";
  writer.Enter(item);
  for (const char* name : {"a\"b", "c\\d", "new\nline", "\x01\x7f\xe9"}) {
    item.name = name;
    item.asize = 12345;
    item.dsize = 16384;
    item.nlink = 2;
    item.ino = 77;
    writer.Enter(item);
    writer.Leaf(item);
    item.excluded = Excluded::kPattern;
    writer.Leaf(item);
    item.excluded = Excluded::kNo;
    writer.Leave();
  }
  writer.Leave();
  writer.Finish();
  std::string text(static_cast<size_t>(std::ftell(file)), '\0');
  std::rewind(file);
  EXPECT_EQ(std::fread(&text[0], 1, text.size(), file), text.size());
  std::fclose(file);
  return text;
}

// "" when `data` read whole, else what is malformed, at `*offset`.
std::string Read(const std::string& data, ScanSink* sink, size_t* offset = nullptr) {
  std::FILE* file = std::tmpfile();
  std::fwrite(data.data(), 1, data.size(), file);
  std::rewind(file);
  std::string malformed;
  try {
    InputStream in(file);
    ReadExport(&in, sink);
  } catch (const MalformedExport& e) {
    malformed = e.what();
    EXPECT_LE(e.offset(), data.size());
    if (offset) *offset = e.offset();
  }
  std::fclose(file);
  return malformed;
}

TEST(ExportReaderTest, ReadsWhatTheWriterWroteAndSurvivesDamage) {
  const std::string sample = SampleExport();
  NestingSink whole;
  EXPECT_EQ(Read(sample, &whole), "");
  EXPECT_EQ(whole.open, 0);
  const char kSignificant[] = "[]{},:\"\\0-9u \x80";
  std::mt19937 random(12345);
  int malformed = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string data = sample;
    for (int edits = 1 + random() % 4; edits > 0; --edits) {
      size_t at = random() % data.size();
      switch (random() % 4) {
        case 0: data[at] = kSignificant[random() % (sizeof kSignificant - 1)]; break;
        case 1: data.erase(at, 1 + random() % 8); break;
        case 2: data.insert(at, 1, kSignificant[random() % (sizeof kSignificant - 1)]); break;
        case 3: data.resize(at); break;
      }
      if (data.empty()) data = "[";
    }
    NestingSink sink;
    bool whole = Read(data, &sink).empty();
    if (whole) {
      EXPECT_EQ(sink.open, 0);
    }
    malformed += !whole;
  }
  EXPECT_GT(malformed, 10000);  // the damage was seen, not read as whole
}

class SizeSink : public ScanSink {
 public:
  void Enter(const Item&) override {}
  void Leaf(const Item& item) override { asize = item.asize; }
  void Leave() override {}
  uint64_t asize = 0;
};

// A JSON number is read for its value or refused where it starts; skipped
// fields may hold any.
TEST(ExportReaderTest, ReadsNumbersAsJsonMeansThem) {
  const struct {
    const char* text;
    uint64_t value;
    const char* refused;
  } cases[] = {
      {"1000", 1000, nullptr},
      {"1e3", 1000, nullptr},
      {"1.5E+3", 1500, nullptr},
      {"120e-1", 12, nullptr},
      {"1000.000", 1000, nullptr},
      {"0e400", 0, nullptr},
      {"184467440737095516150e-1", UINT64_MAX, nullptr},
      {"1.5", 0, "a number that is not whole"},
      {"12e-1", 0, "a number that is not whole"},
      {"1e400", 0, "a number too large"},
      {"18446744073709551616", 0, "a number too large"},
      {"01", 0, "a number with a leading zero"},
      {"-1", 0, "expected a number"},
      {"1.", 0, "expected a digit"},
  };
  const std::string head = R"([1,2,{"skipped":[-1.5e-7,0,2E9]},[{"name":"/r"},{"name":"a","asize":)";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    SizeSink sink;
    size_t offset = 0;
    EXPECT_EQ(Read(head + c.text + "}]]", &sink, &offset), c.refused ? c.refused : "");
    if (c.refused) {
      EXPECT_GE(offset, head.size());
    } else {
      EXPECT_EQ(sink.asize, c.value);
    }
  }
}

}  // namespace
