// The Corvane object and its "V 01.00" files, through ICorvane only.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/com_test_util.h"
#include "support/log_bytes.h"
#include "support/temp_dir.h"

namespace corvane::test {
namespace {

constexpr const char* kTag = "CORVANE";
const std::string kTagText = "KRV Binary Log File V 01.00";

// The 60-byte header a new file gets: the tag, CR/LF pairs, ^Z at byte 59.
Bytes LegacyHeader() {
  Bytes b(kTagText.begin(), kTagText.end());
  b.insert(b.end(), {0x0A, 0x0D});
  b.resize(57, ' ');
  b.insert(b.end(), {0x0A, 0x0D, 0x1A});
  return b;
}

// A 12-byte block header, big-endian.
Bytes BlockHeader(uint16_t id, uint8_t conn, uint32_t tick, uint32_t length, uint8_t reserved = 0) {
  Bytes b{static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), conn, reserved};
  PutBE(b, tick, 4);
  PutBE(b, length, 4);
  return b;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) PutBytes(out, p);
  return out;
}

struct Header {
  USHORT id = 0;
  BYTE conn = 0;
  ULONG tick = 0;
  ULONG length = 0;
  LONG end = -1;
};

class CorvaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
    ASSERT_TRUE(log_);
    TakeError();
  }

  HRESULT Open(const std::string& path, EnumCVRFileAccessMode access, EnumCVRFileCreateMode create,
               ICorvane* object = nullptr) {
    return (object ? object : log_.get())->Open(Bstr(path).get(), access, create);
  }
  HRESULT OpenRead(const std::string& path, ICorvane* object = nullptr) {
    return Open(path, CVRFileAccessModeRead, CVRFileCreateModeExisting, object);
  }
  HRESULT OpenNew(const std::string& path) { return Open(path, CVRFileAccessModeWrite, CVRFileCreateModeNew); }
  HRESULT ReadHeader(Header* h) { return log_->ReadBlockHeader(&h->id, &h->conn, &h->tick, &h->length, &h->end); }
  HRESULT Write(uint16_t id, uint8_t conn, const std::string& data) {
    BYTE scratch = 0;
    BYTE* p = data.empty() ? &scratch : reinterpret_cast<BYTE*>(const_cast<char*>(data.data()));
    return log_->WriteBlock(id, conn, p, static_cast<ULONG>(data.size()));
  }
  ULONG Position() {
    ULONG pos = 0;
    EXPECT_EQ(log_->GetFilePointerPos(&pos), S_OK);
    return pos;
  }

  TempDir dir_;
  ComPtr<ICorvane> log_;
};

TEST_F(CorvaneTest, WrittenFileHasTheHeaderAndBigEndianBlocksAndReadsBackInOrder) {
  const std::string path = dir_.File("blocks.log");
  WriteFileBytes(path, Bytes(500, 7));  // replaced
  ASSERT_EQ(Open(path, CVRFileAccessModeWrite, CVRFileCreateModeAlways), S_OK);
  EXPECT_EQ(Position(), 60u);
  const std::vector<std::pair<uint16_t, std::string>> blocks = {
      {0x43, std::string(300, 'x')}, {0x0144, ""}, {CVR_ID_MULTI_QUIVOX_MSG, std::string(5000, 'z')}};
  for (size_t i = 0; i < blocks.size(); ++i) {
    ASSERT_EQ(Write(blocks[i].first, static_cast<uint8_t>(i + 0xFD), blocks[i].second), S_OK);
  }
  ULONG size = 0;
  EXPECT_EQ(log_->GetFileSize(&size), S_OK);
  EXPECT_EQ(size, 60u + 12 + 300 + 12 + 12 + 5000);
  EXPECT_EQ(Position(), size);
  ASSERT_EQ(log_->Close(), S_OK);

  const Bytes bytes = ReadFileBytes(path);
  ASSERT_EQ(bytes.size(), size);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 27), kTagText);
  EXPECT_EQ(Bytes(bytes.begin() + 27, bytes.begin() + 29), (Bytes{0x0A, 0x0D}));
  EXPECT_EQ(Bytes(bytes.begin() + 57, bytes.begin() + 60), (Bytes{0x0A, 0x0D, 0x1A}));
  for (int i = 29; i < 57; ++i) EXPECT_TRUE(bytes[i] != 0x1A && bytes[i] != 0x0D) << i;
  // Identifier, connection, reserved zero byte; the tick is not known; length.
  const uint8_t* h = bytes.data() + 60;
  EXPECT_EQ(Bytes(h, h + 4), (Bytes{0x00, 0x43, 0xFD, 0x00}));
  EXPECT_EQ(Bytes(h + 8, h + 12), (Bytes{0x00, 0x00, 0x01, 0x2C}));
  h += 12 + 300;
  EXPECT_EQ(Bytes(h, h + 4), (Bytes{0x01, 0x44, 0xFE, 0x00}));
  EXPECT_EQ(Bytes(h + 8, h + 12), (Bytes{0, 0, 0, 0}));

  ASSERT_EQ(OpenRead(path), S_OK);
  EXPECT_EQ(Position(), 60u);
  ULONG previous_tick = 0;
  for (size_t i = 0; i < blocks.size(); ++i) {
    Header h;
    ASSERT_EQ(ReadHeader(&h), S_OK);
    EXPECT_EQ(h.end, 0);
    EXPECT_EQ(h.id, blocks[i].first);
    EXPECT_EQ(h.conn, i + 0xFD);
    EXPECT_TRUE(i == 0 || h.tick - previous_tick <= 60000u);  // absolute ticks, close together
    previous_tick = h.tick;
    ASSERT_EQ(h.length, blocks[i].second.size());
    std::string data(h.length + 1, '\0');
    ASSERT_EQ(log_->ReadBlockData(reinterpret_cast<BYTE*>(&data[0]), h.length), S_OK);
    EXPECT_EQ(data.substr(0, h.length), blocks[i].second);
  }
  Header end;
  ASSERT_EQ(ReadHeader(&end), S_OK);
  EXPECT_EQ(end.end, 1);
  EXPECT_TRUE(end.id == 0 && end.conn == 0 && end.tick == 0 && end.length == 0);
}

// Every failed Open leaves the object closed; arguments are checked before
// anything is touched, the access mode before the create mode.
TEST_F(CorvaneTest, FailedOpensReportCodeAndTextAndLeaveTheObjectClosed) {
  const auto kRead = CVRFileAccessModeRead, kWrite = CVRFileAccessModeWrite;
  const auto kNew = CVRFileCreateModeNew, kExisting = CVRFileCreateModeExisting;
  constexpr std::nullopt_t kNoFile = std::nullopt;
  Bytes late_end(kTagText.begin(), kTagText.end());
  late_end.resize(2000, ' ');
  late_end.push_back(0x1A);  // the end byte at 2001
  const struct {
    const char* name;
    std::optional<Bytes> before;  // the file before, if any
    int access, create;  // plain numbers: some are no value of the enumerations
    HRESULT code;
    const char* text;
    bool exists_after;
  } cases[] = {
      {"write, open existing", kNoFile, kWrite, kExisting, E_CVR_INVALID_ACCESS_FLAG_COMBINATION,
       "Illegal Access Flag combination", false},
      {"bad access and create", kNoFile, 3, 7, E_CVR_INVALID_FILE_ACCESS_MODE, "File creation failed", false},
      {"create 0", kNoFile, kWrite, 0, E_CVR_INVALID_CREATE_MODE, "File creation failed", false},
      {"missing file", kNoFile, kRead, kExisting, E_CVR_FILE_CREATION_FAILS, "File creation failed", false},
      {"create new over a file", Bytes{1, 2, 3}, kWrite, kNew, E_CVR_FILE_CREATION_FAILS, "File creation failed", true},
      // Created, but the header cannot be written; the file is not removed.
      {"read access, create new", kNoFile, kRead, kNew, E_CVR_FILE_HEADER_INFO_WRITE_FAIL, "File creation failed",
       true},
      // Refused before the file is touched: an existing log is not emptied.
      {"read access, create always", Bytes{1, 2, 3}, kRead, CVRFileCreateModeAlways,
       E_CVR_FILE_HEADER_INFO_WRITE_FAIL, "File creation failed", true},
      {"end byte after 2000 bytes", late_end, kRead, kExisting, E_CVR_FILE_HEADER_INFO_READ_FAIL,
       "File creation failed", true},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir_.File("case" + std::to_string(n++) + ".log");
    if (c.before) WriteFileBytes(path, *c.before);
    EXPECT_CVR_ERROR(Open(path, static_cast<EnumCVRFileAccessMode>(c.access), static_cast<EnumCVRFileCreateMode>(c.create)),
                     c.code, c.text, kTag);
    EXPECT_EQ(FileExists(path), c.exists_after);
    EXPECT_TRUE(!c.before || ReadFileBytes(path) == *c.before) << "the file is left alone";
    EXPECT_EQ(log_->Close(), E_CVR_FILE_NOT_OPEN);
  }
  EXPECT_CVR_ERROR(log_->Open(nullptr, kRead, kNew), E_POINTER, "One ore more Open method parameters are NULL",
                   kTag);
  EXPECT_CVR_ERROR(OpenRead(dir_.File("no-such-dir/missing.log")), E_CVR_FILE_CREATION_FAILS,
                   "File creation failed", kTag);
}

TEST_F(CorvaneTest, AnOpenFileIsHeldExclusivelyAndKeptByRefusedArguments) {
  const std::string a = dir_.File("a.log"), b = dir_.File("b.log");
  ASSERT_EQ(OpenNew(a), S_OK);
  EXPECT_EQ(Open(a, CVRFileAccessModeWrite, CVRFileCreateModeExisting), E_CVR_INVALID_ACCESS_FLAG_COMBINATION);
  EXPECT_EQ(Open(a, CVRFileAccessModeWrite, static_cast<EnumCVRFileCreateMode>(9)), E_CVR_INVALID_CREATE_MODE);
  EXPECT_EQ(Write(1, 1, "still open"), S_OK);
  ComPtr<ICorvane> other = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
  EXPECT_EQ(OpenRead(a, other.get()), E_CVR_FILE_CREATION_FAILS);
  // Opening another file gives up the current one.
  ASSERT_EQ(OpenNew(b), S_OK);
  EXPECT_EQ(OpenRead(a, other.get()), S_OK);
  // The same object reopening its own file gives it up first and fails.
  EXPECT_CVR_ERROR(OpenRead(b), E_CVR_FILE_CREATION_FAILS, "File creation failed", kTag);
  EXPECT_EQ(log_->Close(), E_CVR_FILE_NOT_OPEN);
  EXPECT_EQ(OpenRead(b, other.get()), S_OK);
}

// ---- Reading, step by step ----

struct Step {
  char op;          // 'H' read a header, 'D' read `length` bytes of data, 'W' write a block
  ULONG length;
  HRESULT code;
  LONG end = -1;    // for a header read: the end flag (-1: any)
  USHORT id = 0;    // for a header read: the identifier (0: any)
  ULONG pos = 0;    // the position afterwards (0: any)
  const char* data = nullptr;  // for a data read: the bytes
};

const char* ReadErrorText(HRESULT code) {
  return code == E_CVR_BLOCK_HEADER_NOT_READ      ? "Block header not read"
         : code == E_CVR_INVALID_DATA_BLOCK_SIZE  ? "Invalid data block size"
         : code == E_CVR_BLOCK_HEADER_READ_FAILED ? "Block header read failed"
         : code == E_CVR_BLOCK_DATA_READ_FAILED   ? "Block data read failed"
         : code == E_CVR_BLOCK_DATA_SKIP_FAILED   ? "Block data skip failed"
                                                  : "Block header write failed";
}

TEST_F(CorvaneTest, ReadingStepByStep) {
  const Bytes three = Concat({LegacyHeader(), BlockHeader(1, 1, 10, 3, 0xEE), {'a', 'b', 'c'},
                              BlockHeader(2, 2, 20, 0), BlockHeader(3, 3, 30, 4), {'w', 'x', 'y', 'z'}});
  std::string odd_text = "a longer header with V 01.00 inside and more text\r\n";
  Bytes odd_header(odd_text.begin(), odd_text.end());
  odd_header.push_back(0x1A);
  Bytes at_limit(kTagText.begin(), kTagText.end());
  at_limit.resize(1999, ' ');
  at_limit.push_back(0x1A);  // the end byte as byte 2000
  Bytes cut_header = BlockHeader(9, 9, 9, 0);
  cut_header.resize(5);
  const HRESULT kNotRead = E_CVR_BLOCK_HEADER_NOT_READ;
  const std::string e101 = "KRV Binary Log File V e1.01\n\r";  // another version's header
  const struct {
    const char* name;
    Bytes file;
    std::vector<Step> steps;
    HRESULT opened = S_OK;  // a wrong version fails Open but leaves the file open behind its header
  } cases[] = {
      // The reserved byte is ignored; unread data is skipped.
      {"unread data skipped", three, {{'H', 0, S_OK, 0, 1}, {'H', 0, S_OK, 0, 2}, {'H', 0, S_OK, 0, 3},
                                      {'D', 4, S_OK, -1, 0, 0, "wxyz"}, {'H', 0, S_OK, 1}}},
      {"data needs a header first", three, {{'D', 3, kNotRead}, {'H', 0, S_OK}, {'D', 3, S_OK}, {'D', 3, kNotRead}}},
      {"data of another length stays pending", three,
       {{'H', 0, S_OK}, {'D', 2, E_CVR_INVALID_DATA_BLOCK_SIZE, -1, 0, 72}, {'H', 0, S_OK, 0, 2}}},
      {"zero-length data", three, {{'H', 0, S_OK}, {'H', 0, S_OK, 0, 2}, {'D', 0, S_OK}, {'D', 0, kNotRead}}},
      {"writing a file opened for reading", three, {{'W', 1, E_CVR_BLOCK_HEADER_WRITE_FAILED}}},
      {"any header with the tag before its end byte", Concat({odd_header, BlockHeader(7, 1, 99, 2), {0xAB, 0xCD}}),
       {{'H', 0, S_OK, 0, 7, static_cast<ULONG>(odd_header.size()) + 12}, {'D', 2, S_OK, -1, 0, 0, "\xAB\xCD"}}},
      {"end byte as byte 2000", at_limit, {{'H', 0, S_OK, 1}}},
      {"header cut short is damage", Concat({LegacyHeader(), cut_header}),
       {{'H', 0, E_CVR_BLOCK_HEADER_READ_FAILED}}},
      // Data cut off by the end of the file is damage whether it is read or
      // skipped, never a clean end of the log.
      {"data cut short", Concat({LegacyHeader(), BlockHeader(1, 1, 1, 8), Bytes(3, 0)}),
       {{'H', 0, S_OK}, {'D', 8, E_CVR_BLOCK_DATA_READ_FAILED}, {'H', 0, E_CVR_BLOCK_DATA_SKIP_FAILED}}},
      {"data cut short, skipped", Concat({LegacyHeader(), BlockHeader(1, 1, 1, 100), Bytes(10, 0)}),
       {{'H', 0, S_OK}, {'H', 0, E_CVR_BLOCK_DATA_SKIP_FAILED, -1, 0, 72}}},
      // A damaged length of 2^31 or more must not move the position backwards.
      {"huge pending length", Concat({LegacyHeader(), BlockHeader(1, 1, 1, 0x80000010u), Bytes(64, 0)}),
       {{'H', 0, S_OK}, {'H', 0, E_CVR_BLOCK_DATA_SKIP_FAILED, -1, 0, 72}}},
      // Skipped data is behind the reader: meeting the end after a skip does
      // not skip again on the next call.
      {"skip to the end once", Concat({LegacyHeader(), BlockHeader(1, 1, 1, 10), Bytes(10, 0)}),
       {{'H', 0, S_OK}, {'H', 0, S_OK, 1, 0, 82}, {'H', 0, S_OK, 1, 0, 82}, {'D', 10, kNotRead}}},
      {"version e1.01", Concat({Bytes(e101.begin(), e101.end()), {0x1A}, BlockHeader(3, 2, 1, 0)}),
       {{'H', 0, S_OK, 0, 3}}, E_CVR_FILE_HEADER_INFO_WRONG_VERSION},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir_.File("read" + std::to_string(n++) + ".log");
    WriteFileBytes(path, c.file);
    if (c.opened == S_OK) {
      ASSERT_EQ(OpenRead(path), S_OK);
    } else {
      EXPECT_CVR_ERROR(OpenRead(path), c.opened, "File creation failed", kTag);
    }
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const Step& s = c.steps[i];
      SCOPED_TRACE("step " + std::to_string(i));
      Header h;
      Bytes data(s.length + 1);
      const HRESULT hr = s.op == 'H' ? ReadHeader(&h) : s.op == 'D' ? log_->ReadBlockData(data.data(), s.length)
                                                                    : Write(1, 1, std::string(s.length, 'x'));
      if (s.code == S_OK) {
        ASSERT_EQ(hr, S_OK) << TakeError().description;
      } else {
        EXPECT_EQ(static_cast<uint32_t>(hr), static_cast<uint32_t>(s.code));
        EXPECT_EQ(TakeError().description, Description(ReadErrorText(s.code), kTag, s.code));
      }
      EXPECT_TRUE(s.end < 0 || h.end == s.end) << h.end;
      EXPECT_TRUE(!s.id || h.id == s.id) << h.id;
      EXPECT_TRUE(!s.pos || Position() == s.pos);
      EXPECT_TRUE(!s.data || std::string(data.begin(), data.begin() + s.length) == s.data);
    }
    EXPECT_EQ(log_->Close(), S_OK);
  }
}

TEST_F(CorvaneTest, FlushAndReadNeedTheMatchingAccess) {
  const std::string path = dir_.File("w.log");
  ASSERT_EQ(OpenNew(path), S_OK);
  Header h;
  EXPECT_CVR_ERROR(ReadHeader(&h), E_CVR_BLOCK_HEADER_READ_FAILED, "Block header read failed", kTag);
  EXPECT_EQ(log_->Flush(), S_OK);
  ASSERT_EQ(log_->Close(), S_OK);
  ASSERT_EQ(OpenRead(path), S_OK);
  EXPECT_CVR_ERROR(log_->Flush(), E_CVR_FILE_FLUSH_FAILED, "File flush failed", kTag);
}

TEST_F(CorvaneTest, EveryMethodNeedsAnOpenFileAndItsPointers) {
  const char* kNotOpen = "File not open";
  BYTE data[4] = {};
  ULONG value = 0;
  Header h;
  EXPECT_CVR_ERROR(log_->Close(), E_CVR_FILE_NOT_OPEN, kNotOpen, kTag);
  EXPECT_CVR_ERROR(log_->WriteBlock(1, 1, data, 4), E_CVR_FILE_NOT_OPEN, kNotOpen, kTag);
  EXPECT_CVR_ERROR(ReadHeader(&h), E_CVR_FILE_NOT_OPEN, kNotOpen, kTag);
  EXPECT_CVR_ERROR(log_->ReadBlockData(data, 4), E_CVR_FILE_NOT_OPEN, kNotOpen, kTag);
  EXPECT_CVR_ERROR(log_->Flush(), E_CVR_FILE_NOT_OPEN, kNotOpen, kTag);
  EXPECT_CVR_ERROR(log_->GetFileSize(&value), E_CVR_FILE_NOT_OPEN, kNotOpen, kTag);
  EXPECT_CVR_ERROR(log_->GetFilePointerPos(&value), E_CVR_FILE_NOT_OPEN, kNotOpen, kTag);

  // Null pointers are refused before the open-file check.
  USHORT id;
  BYTE conn;
  ULONG tick, length;
  LONG end;
  auto text = [](const char* method) { return std::string("One ore more ") + method + " method parameters are NULL"; };
  EXPECT_CVR_ERROR(log_->WriteBlock(1, 1, nullptr, 0), E_POINTER, text("WriteBlock"), kTag);
  for (int missing = 0; missing < 5; ++missing) {
    EXPECT_CVR_ERROR(log_->ReadBlockHeader(missing == 0 ? nullptr : &id, missing == 1 ? nullptr : &conn,
                                           missing == 2 ? nullptr : &tick, missing == 3 ? nullptr : &length,
                                           missing == 4 ? nullptr : &end),
                     E_POINTER, text("ReadBlockHeader"), kTag);
  }
  EXPECT_CVR_ERROR(log_->ReadBlockData(nullptr, 0), E_POINTER, text("ReadBlockData"), kTag);
  EXPECT_CVR_ERROR(log_->GetFileSize(nullptr), E_POINTER, text("GetFileSize"), kTag);
  EXPECT_CVR_ERROR(log_->GetFilePointerPos(nullptr), E_POINTER, text("GetFilePointerPos"), kTag);
}

}  // namespace
}  // namespace corvane::test
