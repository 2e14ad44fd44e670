// The reader takes whatever bytes it is given: damaged exports end in
// MalformedExport at an offset inside them, never in a crash, and what it
// told the sink always nests.
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
  ExportWriter writer(file, "1", 0);
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

// True when it read whole; fails the test on anything but a clean ending.
bool ReadBack(const std::string& data) {
  std::FILE* file = std::tmpfile();
  std::fwrite(data.data(), 1, data.size(), file);
  std::rewind(file);
  NestingSink sink;
  bool whole = true;
  try {
    ReadExport(file, &sink);
    EXPECT_EQ(sink.open, 0);
  } catch (const MalformedExport& e) {
    EXPECT_LE(e.offset(), data.size());
    whole = false;
  }
  std::fclose(file);
  return whole;
}

TEST(ExportReaderTest, ReadsWhatTheWriterWrote) { EXPECT_TRUE(ReadBack(SampleExport())); }

TEST(ExportReaderTest, SurvivesDamage) {
  const std::string sample = SampleExport();
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
    malformed += !ReadBack(data);
  }
  EXPECT_GT(malformed, 10000);  // the damage was seen, not read as whole
}

}  // namespace
