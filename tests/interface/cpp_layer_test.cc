// The C++ layer <corvane/corvane.hpp> over the public interfaces: error
// translation, records read back exactly, damage, Jump, bookmarks, text
// conversion and reference counts.
#include <corvane/corvane.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace corvane::test {
namespace {

const com_init kCom;  // the test program's thread, for CoCreateInstance on Windows

struct Row { std::int64_t number; USHORT id; BYTE connection; std::string data; bool operator==(const Row&) const = default; };
// The records from the reader's place on (at most `limit`).
std::vector<Row> ReadRows(reader& in, size_t limit = 1000) {
  std::vector<Row> rows;
  for (const auto& r : in) {
    rows.push_back({r.number(), r.block_id(), r.connection(), {reinterpret_cast<const char*>(r.data().data()), r.size()}});
    if (rows.size() == limit) break;
  }
  return rows;
}

// 300 messages "m<i>" on connection i % 7, a bookmark before message 100, and
// after them a bulk block of two messages. The recorder closes at its end.
void Record(const std::filesystem::path& path) {
  recorder out;
  out.open(path);
  out.write(CVR_ID_COMMENT, 9, std::span<const std::byte>());
  for (int i = 0; i < 300; ++i) {
    if (i == 100) out.write_bookmark("one hundred");
    out.write(CVR_ID_QUIVOX_MSG, static_cast<BYTE>(i % 7), "m" + std::to_string(i));
  }
  const unsigned char bulk[] = {0x1D, 0x10, 1, 0, 0, 2, 'h', 'i', 0x1D, 0x10, 1, 0, 0, 1, '!'};
  out.write_bulk(3, std::as_bytes(std::span(bulk)), 2);
}

class CppLayerTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::filesystem::path log_ = dir_.File("layer.cvr");
};

// Each case throws the code and the text of its error object (none: the code).
TEST_F(CppLayerTest, FailuresThrowTheCodeAndTheLibrarysText) {
  reader in;
  const struct { std::function<void()> call; HRESULT code; const char* text; } cases[] = {
      {[&] { in.open(dir_.File("missing.cvr")); }, E_CVR_FILE_CREATION_FAILS, "File creation failed;LOGFILE=0x80043002"},
      {[&] { in.jump(0); }, E_CVR_FILE_NOT_OPEN, "File not open;LOGFILE=0x80043006"},
      {[&] { check(E_FAIL); }, E_FAIL, "failed with code 0x80004005"},
  };
  for (const auto& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.text;
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), c.code);
      EXPECT_STREQ(e.what(), c.text);
    }
  }
}

// Then the same log cut inside its last block: the intact records, then damage.
TEST_F(CppLayerTest, IterationYieldsTheRecordsWrittenStopsAtTheEndAndThrowsOnDamage) {
  Record(log_);
  reader in;
  in.open(log_);
  std::vector<Row> want{{0, CVR_ID_COMMENT, 9, ""}};
  for (int i = 0; i < 300; ++i) {
    if (i == 100) want.push_back({101, CVR_ID_BOOKMARK, 0xFF, "one hundred"});
    want.push_back({static_cast<std::int64_t>(want.size()), CVR_ID_QUIVOX_MSG, static_cast<BYTE>(i % 7), "m" + std::to_string(i)});
  }
  want.push_back({302, CVR_ID_QUIVOX_MSG, 0xFF, std::string("\x1D\x10\x01\0\0\x02hi", 8)});
  want.push_back({303, CVR_ID_QUIVOX_MSG, 0xFF, std::string("\x1D\x10\x01\0\0\x01!", 7)});
  EXPECT_EQ(ReadRows(in), want);
  EXPECT_TRUE(ReadRows(in).empty());
  in.close();

  std::filesystem::resize_file(log_, std::filesystem::file_size(log_) - 5);
  in.open(log_);
  std::int64_t last = -1;
  try {
    for (const auto& record : in) last = record.number();
    ADD_FAILURE() << "no damage reported";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), E_CVR_BLOCK_HEADER_DATA_CORRUPT);
    EXPECT_STREQ(e.what(), "Corrupt Block header, data length exceeds end of file;LOGFILE=0x80043012");
  }
  EXPECT_EQ(last, 301);
}

TEST_F(CppLayerTest, IndexJumpAndBookmarks) {
  Record(log_);
  reader in;
  in.open(log_);
  std::vector<int> seen;
  EXPECT_EQ(in.index([&](int percent) { seen.push_back(percent); }, 50), 304);
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()) && seen.back() == 100);
  for (const Row& want : {Row{250, CVR_ID_QUIVOX_MSG, 248 % 7, "m248"}, Row{101, CVR_ID_BOOKMARK, 0xFF, "one hundred"},
                          Row{0, CVR_ID_COMMENT, 9, ""}, Row{303, CVR_ID_QUIVOX_MSG, 0xFF, std::string("\x1D\x10\x01\0\0\x01!", 7)}}) {
    in.jump(want.number);
    EXPECT_EQ(ReadRows(in, 1), std::vector<Row>{want});
  }
  in.insert_bookmark(2, "second");
  in.close();
  in.open(log_);
  for (int twice = 0; twice < 2; ++twice) {  // a second listing starts at the first again
    const std::vector<bookmark> marks = in.bookmarks();
    ASSERT_EQ(marks.size(), 2u);
    EXPECT_TRUE(marks[0].message_number == 2 && marks[0].comment == "second");
    EXPECT_TRUE(marks[1].message_number == 102 && marks[1].comment == "one hundred");
  }
  EXPECT_EQ(in.indexed_count(), 305);
  in.edit_bookmark(1, "edited");
  in.delete_bookmark(0);
  in.close();
  in.open(log_);
  const std::vector<bookmark> marks = in.bookmarks();
  EXPECT_TRUE(marks.size() == 1 && marks[0].message_number == 101 && marks[0].comment == "edited");
  EXPECT_EQ(in.file_size(), static_cast<std::int64_t>(std::filesystem::file_size(log_)));
}

TEST(CppLayer, TextRoundTripsAndComPtrCountsReferences) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E";  // a, e acute, euro sign, G clef
  const bstr b(text);
  EXPECT_TRUE(SysStringLen(b.get()) == 5u && b.str() == text);

  auto refs = [](IUnknown* p) { p->AddRef(); return p->Release(); };
  com_ptr<ILogFile2> a = create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
  ASSERT_TRUE(a);
  EXPECT_EQ(refs(a.get()), 1u);
  {
    com_ptr<ILogFile2> copy = a;
    EXPECT_EQ(refs(a.get()), 2u);
    com_ptr<ILogFile2> c = std::move(copy);
    EXPECT_FALSE(copy);
    EXPECT_EQ(refs(a.get()), 2u);
    c = a;
    EXPECT_EQ(refs(a.get()), 2u);
    a->AddRef();
    com_ptr<ILogFile2> d;
    *d.put() = a.get();  // an out-parameter hands over its reference
    EXPECT_EQ(refs(a.get()), 3u);
    d.put();
    EXPECT_EQ(refs(a.get()), 2u);
  }
  EXPECT_EQ(refs(a.get()), 1u);
}

}  // namespace
}  // namespace corvane::test
