// The Corvane object and its "V 01.00" files, through ICorvane only.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/com_test_util.h"
#include "support/temp_dir.h"

namespace corvane::test {
namespace {

constexpr const char* kTag = "CORVANE";
using Bytes = std::vector<uint8_t>;

Bytes LegacyHeader() {
  std::string text = "KRV Binary Log File V 01.00";
  Bytes b(text.begin(), text.end());
  b.push_back(0x0A);
  b.push_back(0x0D);
  b.resize(57, ' ');
  b.push_back(0x0A);
  b.push_back(0x0D);
  b.push_back(0x1A);
  return b;
}

Bytes BlockHeader(uint16_t id, uint8_t conn, uint32_t tick, uint32_t length, uint8_t reserved = 0) {
  return {static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), conn, reserved,
          static_cast<uint8_t>(tick >> 24), static_cast<uint8_t>(tick >> 16),
          static_cast<uint8_t>(tick >> 8), static_cast<uint8_t>(tick),
          static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
          static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
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
    Bstr name(path);
    return (object ? object : log_.get())->Open(name.get(), access, create);
  }
  HRESULT OpenRead(const std::string& path) {
    return Open(path, CVRFileAccessModeRead, CVRFileCreateModeExisting);
  }
  HRESULT ReadHeader(Header* h) {
    return log_->ReadBlockHeader(&h->id, &h->conn, &h->tick, &h->length, &h->end);
  }
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

// ---- Writing ----

TEST_F(CorvaneTest, NewFileHoldsTheSixtyByteHeader) {
  const std::string path = dir_.File("new.log");
  ASSERT_EQ(Open(path, CVRFileAccessModeWrite, CVRFileCreateModeAlways), S_OK);
  ULONG size = 0;
  EXPECT_EQ(log_->GetFileSize(&size), S_OK);
  EXPECT_EQ(size, 60u);
  EXPECT_EQ(Position(), 60u);
  ASSERT_EQ(log_->Close(), S_OK);

  Bytes bytes = ReadFileBytes(path);
  ASSERT_EQ(bytes.size(), 60u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 27), "KRV Binary Log File V 01.00");
  EXPECT_EQ(bytes[27], 0x0A);
  EXPECT_EQ(bytes[28], 0x0D);
  EXPECT_EQ(bytes[57], 0x0A);
  EXPECT_EQ(bytes[58], 0x0D);
  EXPECT_EQ(bytes[59], 0x1A);
  for (int i = 29; i < 57; ++i) {
    EXPECT_NE(bytes[i], 0x1A);
    EXPECT_NE(bytes[i], 0x0D);
  }
}

TEST_F(CorvaneTest, BlockHeaderIsBigEndianWithZeroReservedByte) {
  const std::string path = dir_.File("blocks.log");
  ASSERT_EQ(Open(path, CVRFileAccessModeWrite, CVRFileCreateModeNew), S_OK);
  ASSERT_EQ(Write(0x43, 5, std::string(300, 'x')), S_OK);
  ASSERT_EQ(Write(0x0144, 0xFE, ""), S_OK);  // unnamed identifier, no data
  EXPECT_EQ(Position(), 60u + 12 + 300 + 12);
  ASSERT_EQ(log_->Close(), S_OK);

  Bytes bytes = ReadFileBytes(path);
  ASSERT_EQ(bytes.size(), 60u + 12 + 300 + 12);
  const uint8_t* h = bytes.data() + 60;
  EXPECT_EQ(Bytes(h, h + 4), (Bytes{0x00, 0x43, 0x05, 0x00}));
  EXPECT_EQ(Bytes(h + 8, h + 12), (Bytes{0x00, 0x00, 0x01, 0x2C}));
  const uint8_t* h2 = bytes.data() + 60 + 12 + 300;
  EXPECT_EQ(Bytes(h2, h2 + 4), (Bytes{0x01, 0x44, 0xFE, 0x00}));
  EXPECT_EQ(Bytes(h2 + 8, h2 + 12), (Bytes{0, 0, 0, 0}));
}

TEST_F(CorvaneTest, WrittenBlocksReadBackInOrder) {
  const std::string path = dir_.File("roundtrip.log");
  ASSERT_EQ(Open(path, CVRFileAccessModeWrite, CVRFileCreateModeAlways), S_OK);
  const std::vector<std::pair<uint16_t, std::string>> blocks = {
      {CVR_ID_COMMENT, "first"}, {0x44, ""}, {CVR_ID_MULTI_QUIVOX_MSG, std::string(5000, 'z')}};
  for (size_t i = 0; i < blocks.size(); ++i) {
    ASSERT_EQ(Write(blocks[i].first, static_cast<uint8_t>(i), blocks[i].second), S_OK);
  }
  ASSERT_EQ(log_->Close(), S_OK);

  ASSERT_EQ(OpenRead(path), S_OK);
  EXPECT_EQ(Position(), 60u);
  ULONG previous_tick = 0;
  for (size_t i = 0; i < blocks.size(); ++i) {
    Header h;
    ASSERT_EQ(ReadHeader(&h), S_OK);
    EXPECT_EQ(h.end, 0);
    EXPECT_EQ(h.id, blocks[i].first);
    EXPECT_EQ(h.conn, i);
    ASSERT_EQ(h.length, blocks[i].second.size());
    if (i > 0) {
      EXPECT_LE(h.tick - previous_tick, 60000u);  // absolute ticks, close together
    }
    previous_tick = h.tick;
    std::string data(h.length, '\0');
    BYTE scratch = 0;
    ASSERT_EQ(log_->ReadBlockData(h.length ? reinterpret_cast<BYTE*>(&data[0]) : &scratch, h.length),
              S_OK);
    EXPECT_EQ(data, blocks[i].second);
  }
  Header end;
  ASSERT_EQ(ReadHeader(&end), S_OK);
  EXPECT_EQ(end.end, 1);
  EXPECT_EQ(end.id, 0);
  EXPECT_EQ(end.conn, 0);
  EXPECT_EQ(end.tick, 0u);
  EXPECT_EQ(end.length, 0u);
}

// ---- Open ----

TEST_F(CorvaneTest, OpenChecksArgumentsBeforeTouchingAnything) {
  const std::string path = dir_.File("never.log");
  EXPECT_CVR_ERROR(log_->Open(nullptr, CVRFileAccessModeRead, CVRFileCreateModeNew), E_POINTER,
                   "One ore more Open method parameters are NULL", kTag);
  EXPECT_CVR_ERROR(Open(path, CVRFileAccessModeWrite, CVRFileCreateModeExisting),
                   E_CVR_INVALID_ACCESS_FLAG_COMBINATION, "Illegal Access Flag combination", kTag);
  // The access mode is tested before the create mode.
  EXPECT_CVR_ERROR(Open(path, static_cast<EnumCVRFileAccessMode>(3),
                        static_cast<EnumCVRFileCreateMode>(7)),
                   E_CVR_INVALID_FILE_ACCESS_MODE, "File creation failed", kTag);
  EXPECT_CVR_ERROR(Open(path, static_cast<EnumCVRFileAccessMode>(0), CVRFileCreateModeNew),
                   E_CVR_INVALID_FILE_ACCESS_MODE, "File creation failed", kTag);
  EXPECT_CVR_ERROR(Open(path, CVRFileAccessModeWrite, static_cast<EnumCVRFileCreateMode>(0)),
                   E_CVR_INVALID_CREATE_MODE, "File creation failed", kTag);
  EXPECT_FALSE(FileExists(path));
}

TEST_F(CorvaneTest, ArgumentFailuresKeepTheOpenFile) {
  const std::string path = dir_.File("kept.log");
  ASSERT_EQ(Open(path, CVRFileAccessModeWrite, CVRFileCreateModeNew), S_OK);
  EXPECT_EQ(Open(path, CVRFileAccessModeWrite, CVRFileCreateModeExisting),
            E_CVR_INVALID_ACCESS_FLAG_COMBINATION);
  EXPECT_EQ(Open(path, CVRFileAccessModeWrite, static_cast<EnumCVRFileCreateMode>(9)),
            E_CVR_INVALID_CREATE_MODE);
  EXPECT_EQ(Write(1, 1, "still open"), S_OK);
  EXPECT_EQ(log_->Close(), S_OK);
}

TEST_F(CorvaneTest, CreateNewRefusesAnExistingFileAndLeavesItAlone) {
  const std::string path = dir_.File("exists.log");
  WriteFileBytes(path, {1, 2, 3});
  EXPECT_CVR_ERROR(Open(path, CVRFileAccessModeWrite, CVRFileCreateModeNew),
                   E_CVR_FILE_CREATION_FAILS, "File creation failed", kTag);
  EXPECT_EQ(ReadFileBytes(path), (Bytes{1, 2, 3}));
  EXPECT_EQ(log_->Close(), E_CVR_FILE_NOT_OPEN);
}

TEST_F(CorvaneTest, CreateAlwaysReplacesAnExistingFile) {
  const std::string path = dir_.File("replace.log");
  WriteFileBytes(path, Bytes(500, 7));
  ASSERT_EQ(Open(path, CVRFileAccessModeWrite, CVRFileCreateModeAlways), S_OK);
  ASSERT_EQ(log_->Close(), S_OK);
  EXPECT_EQ(FileSize(path), 60);
}

TEST_F(CorvaneTest, MissingFileCannotBeOpened) {
  EXPECT_CVR_ERROR(OpenRead(dir_.File("missing.log")), E_CVR_FILE_CREATION_FAILS,
                   "File creation failed", kTag);
  EXPECT_CVR_ERROR(OpenRead(dir_.File("no-such-dir/missing.log")), E_CVR_FILE_CREATION_FAILS,
                   "File creation failed", kTag);
}

TEST_F(CorvaneTest, ReadAccessCannotWriteTheNewHeader) {
  const std::string path = dir_.File("readonly-new.log");
  EXPECT_CVR_ERROR(Open(path, CVRFileAccessModeRead, CVRFileCreateModeNew),
                   E_CVR_FILE_HEADER_INFO_WRITE_FAIL, "File creation failed", kTag);
  EXPECT_TRUE(FileExists(path));  // created, and not removed again
  EXPECT_EQ(log_->Close(), E_CVR_FILE_NOT_OPEN);
}

TEST_F(CorvaneTest, FileIsHeldExclusively) {
  const std::string path = dir_.File("exclusive.log");
  ASSERT_EQ(Open(path, CVRFileAccessModeWrite, CVRFileCreateModeNew), S_OK);
  ComPtr<ICorvane> other = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
  EXPECT_EQ(Open(path, CVRFileAccessModeRead, CVRFileCreateModeExisting, other.get()),
            E_CVR_FILE_CREATION_FAILS);
  // The same object reopening its own file gives it up first and fails.
  EXPECT_CVR_ERROR(OpenRead(path), E_CVR_FILE_CREATION_FAILS, "File creation failed", kTag);
  EXPECT_EQ(log_->Close(), E_CVR_FILE_NOT_OPEN);
  EXPECT_EQ(Open(path, CVRFileAccessModeRead, CVRFileCreateModeExisting, other.get()), S_OK);
}

TEST_F(CorvaneTest, OpenOfAnotherFileReplacesTheCurrentOne) {
  const std::string a = dir_.File("a.log"), b = dir_.File("b.log");
  ASSERT_EQ(Open(a, CVRFileAccessModeWrite, CVRFileCreateModeNew), S_OK);
  ASSERT_EQ(Open(b, CVRFileAccessModeWrite, CVRFileCreateModeNew), S_OK);
  ComPtr<ICorvane> other = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
  EXPECT_EQ(Open(a, CVRFileAccessModeRead, CVRFileCreateModeExisting, other.get()), S_OK);
}

// ---- The header of an existing file ----

TEST_F(CorvaneTest, AnyHeaderWithTheTagBeforeItsEndByteIsAccepted) {
  const std::string path = dir_.File("odd-header.log");
  std::string text = "a longer header with V 01.00 inside and more text\r\n";
  Bytes header(text.begin(), text.end());
  header.push_back(0x1A);
  WriteFileBytes(path, Concat({header, BlockHeader(7, 1, 99, 2), {0xAB, 0xCD}}));
  ASSERT_EQ(OpenRead(path), S_OK);
  EXPECT_EQ(Position(), header.size());
  Header h;
  ASSERT_EQ(ReadHeader(&h), S_OK);
  EXPECT_EQ(h.id, 7);
  EXPECT_EQ(h.tick, 99u);
  EXPECT_EQ(h.length, 2u);
}

TEST_F(CorvaneTest, HeaderWithoutEndByteInTheFirst2000BytesCannotBeRead) {
  struct Case {
    const char* name;
    Bytes bytes;
  };
  std::string tagged = "KRV Binary Log File V 01.00";
  Bytes late(tagged.begin(), tagged.end());
  late.resize(2000, ' ');
  late.push_back(0x1A);
  Bytes at_limit(tagged.begin(), tagged.end());
  at_limit.resize(1999, ' ');
  at_limit.push_back(0x1A);
  const Case cases[] = {{"empty", {}}, {"short without end byte", Bytes(tagged.begin(), tagged.end())},
                        {"end byte at 2001", late}};
  for (const Case& c : cases) {
    const std::string path = dir_.File("bad-header.log");
    WriteFileBytes(path, c.bytes);
    EXPECT_CVR_ERROR(OpenRead(path), E_CVR_FILE_HEADER_INFO_READ_FAIL, "File creation failed", kTag);
    EXPECT_EQ(log_->Close(), E_CVR_FILE_NOT_OPEN) << c.name;
  }
  const std::string path = dir_.File("limit.log");
  WriteFileBytes(path, at_limit);
  EXPECT_EQ(OpenRead(path), S_OK);
}

TEST_F(CorvaneTest, WrongVersionLeavesTheFileOpenBehindItsHeader) {
  for (const char* tag : {"V e1.00", "V e1.01", "v 01.00"}) {
    const std::string path = dir_.File("wrong.log");
    std::string text = std::string("KRV Binary Log File ") + tag + "\n\r";
    Bytes header(text.begin(), text.end());
    header.push_back(0x1A);
    WriteFileBytes(path, Concat({header, BlockHeader(3, 2, 1, 0)}));
    EXPECT_CVR_ERROR(OpenRead(path), E_CVR_FILE_HEADER_INFO_WRONG_VERSION, "File creation failed",
                     kTag);
    Header h;
    ASSERT_EQ(ReadHeader(&h), S_OK) << tag;
    EXPECT_EQ(h.id, 3);
    EXPECT_EQ(log_->Close(), S_OK);
  }
}

// ---- Reading ----

class CorvaneReadTest : public CorvaneTest {
 protected:
  void SetUp() override {
    CorvaneTest::SetUp();
    path_ = dir_.File("three.log");
    WriteFileBytes(path_, Concat({LegacyHeader(), BlockHeader(1, 1, 10, 3, 0xEE), {'a', 'b', 'c'},
                                  BlockHeader(2, 2, 20, 0), BlockHeader(3, 3, 30, 4),
                                  {'w', 'x', 'y', 'z'}}));
    ASSERT_EQ(OpenRead(path_), S_OK);
  }
  std::string path_;
};

TEST_F(CorvaneReadTest, UnreadDataIsSkipped) {
  Header h;
  ASSERT_EQ(ReadHeader(&h), S_OK);
  EXPECT_EQ(h.id, 1);  // the reserved byte is ignored
  ASSERT_EQ(ReadHeader(&h), S_OK);
  EXPECT_EQ(h.id, 2);
  ASSERT_EQ(ReadHeader(&h), S_OK);
  EXPECT_EQ(h.id, 3);
  BYTE data[4];
  ASSERT_EQ(log_->ReadBlockData(data, 4), S_OK);
  EXPECT_EQ(std::memcmp(data, "wxyz", 4), 0);
}

TEST_F(CorvaneReadTest, DataNeedsAHeaderReadFirst) {
  BYTE data[8];
  EXPECT_CVR_ERROR(log_->ReadBlockData(data, 3), E_CVR_BLOCK_HEADER_NOT_READ, "Block header not read",
                   kTag);
  Header h;
  ASSERT_EQ(ReadHeader(&h), S_OK);
  ASSERT_EQ(log_->ReadBlockData(data, 3), S_OK);
  EXPECT_CVR_ERROR(log_->ReadBlockData(data, 3), E_CVR_BLOCK_HEADER_NOT_READ, "Block header not read",
                   kTag);
}

TEST_F(CorvaneReadTest, DataOfAnotherLengthIsRefusedAndStaysPending) {
  Header h;
  ASSERT_EQ(ReadHeader(&h), S_OK);
  BYTE data[8];
  EXPECT_CVR_ERROR(log_->ReadBlockData(data, 2), E_CVR_INVALID_DATA_BLOCK_SIZE,
                   "Invalid data block size", kTag);
  EXPECT_EQ(Position(), 60u + 12);  // nothing consumed
  ASSERT_EQ(ReadHeader(&h), S_OK);
  EXPECT_EQ(h.id, 2);
}

TEST_F(CorvaneReadTest, ZeroLengthBlockReadsWithANonNullBuffer) {
  Header h;
  ASSERT_EQ(ReadHeader(&h), S_OK);
  ASSERT_EQ(ReadHeader(&h), S_OK);
  ASSERT_EQ(h.length, 0u);
  BYTE unused = 0;
  EXPECT_EQ(log_->ReadBlockData(&unused, 0), S_OK);
  EXPECT_EQ(log_->ReadBlockData(&unused, 0), E_CVR_BLOCK_HEADER_NOT_READ);
}

TEST_F(CorvaneReadTest, WritingAFileOpenedForReadingFails) {
  EXPECT_CVR_ERROR(Write(1, 1, "x"), E_CVR_BLOCK_HEADER_WRITE_FAILED, "Block header write failed",
                   kTag);
  EXPECT_CVR_ERROR(log_->Flush(), E_CVR_FILE_FLUSH_FAILED, "File flush failed", kTag);
}

TEST_F(CorvaneTest, ReadingAFileOpenedForWritingFails) {
  ASSERT_EQ(Open(dir_.File("w.log"), CVRFileAccessModeWrite, CVRFileCreateModeNew), S_OK);
  Header h;
  EXPECT_CVR_ERROR(ReadHeader(&h), E_CVR_BLOCK_HEADER_READ_FAILED, "Block header read failed", kTag);
  EXPECT_EQ(log_->Flush(), S_OK);
}

TEST_F(CorvaneTest, HeaderCutShortIsDamageNotTheEnd) {
  const std::string path = dir_.File("cut.log");
  Bytes cut = BlockHeader(9, 9, 9, 0);
  cut.resize(5);
  WriteFileBytes(path, Concat({LegacyHeader(), cut}));
  ASSERT_EQ(OpenRead(path), S_OK);
  Header h;
  EXPECT_CVR_ERROR(ReadHeader(&h), E_CVR_BLOCK_HEADER_READ_FAILED, "Block header read failed", kTag);
}

TEST_F(CorvaneTest, HeaderOnlyFileIsAtItsEnd) {
  const std::string path = dir_.File("empty.log");
  WriteFileBytes(path, LegacyHeader());
  ASSERT_EQ(OpenRead(path), S_OK);
  Header h;
  ASSERT_EQ(ReadHeader(&h), S_OK);
  EXPECT_EQ(h.end, 1);
}

// A damaged length of 2^31 or more must not move the position backwards.
TEST_F(CorvaneTest, HugePendingLengthIsAFailedSkip) {
  const std::string path = dir_.File("huge.log");
  WriteFileBytes(path, Concat({LegacyHeader(), BlockHeader(1, 1, 1, 0x80000010u), Bytes(64, 0)}));
  ASSERT_EQ(OpenRead(path), S_OK);
  Header h;
  ASSERT_EQ(ReadHeader(&h), S_OK);
  EXPECT_EQ(h.length, 0x80000010u);
  EXPECT_CVR_ERROR(ReadHeader(&h), E_CVR_BLOCK_DATA_SKIP_FAILED, "Block data skip failed", kTag);
  EXPECT_EQ(Position(), 72u);
}

// Data that was skipped is behind the reader: meeting the end of the file
// after a skip does not skip again on the next call.
TEST_F(CorvaneTest, SkippedDataIsNotSkippedTwice) {
  const std::string path = dir_.File("short-data.log");
  WriteFileBytes(path, Concat({LegacyHeader(), BlockHeader(1, 1, 1, 100), Bytes(10, 0)}));
  ASSERT_EQ(OpenRead(path), S_OK);
  Header h;
  ASSERT_EQ(ReadHeader(&h), S_OK);
  ASSERT_EQ(ReadHeader(&h), S_OK);
  EXPECT_EQ(h.end, 1);
  const ULONG after_skip = Position();
  EXPECT_EQ(after_skip, 60u + 12 + 100);
  ASSERT_EQ(ReadHeader(&h), S_OK);
  EXPECT_EQ(h.end, 1);
  EXPECT_EQ(Position(), after_skip);
  BYTE data[100];
  EXPECT_EQ(log_->ReadBlockData(data, 100), E_CVR_BLOCK_HEADER_NOT_READ);
}

TEST_F(CorvaneTest, DataCutShortFailsAndStaysPending) {
  const std::string path = dir_.File("cut-data.log");
  WriteFileBytes(path, Concat({LegacyHeader(), BlockHeader(1, 1, 1, 8), Bytes(3, 0)}));
  ASSERT_EQ(OpenRead(path), S_OK);
  Header h;
  ASSERT_EQ(ReadHeader(&h), S_OK);
  BYTE data[8];
  EXPECT_CVR_ERROR(log_->ReadBlockData(data, 8), E_CVR_BLOCK_DATA_READ_FAILED, "Block data read failed",
                   kTag);
}

// ---- Methods without an open file, and null pointers ----

TEST_F(CorvaneTest, EveryMethodNeedsAnOpenFile) {
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
}

TEST_F(CorvaneTest, NullPointersAreRefusedBeforeTheFileCheck) {
  USHORT id;
  BYTE conn;
  ULONG tick, length;
  LONG end;
  EXPECT_CVR_ERROR(log_->WriteBlock(1, 1, nullptr, 0), E_POINTER,
                   "One ore more WriteBlock method parameters are NULL", kTag);
  const char* kHeaderText = "One ore more ReadBlockHeader method parameters are NULL";
  EXPECT_CVR_ERROR(log_->ReadBlockHeader(nullptr, &conn, &tick, &length, &end), E_POINTER, kHeaderText, kTag);
  EXPECT_CVR_ERROR(log_->ReadBlockHeader(&id, nullptr, &tick, &length, &end), E_POINTER, kHeaderText, kTag);
  EXPECT_CVR_ERROR(log_->ReadBlockHeader(&id, &conn, nullptr, &length, &end), E_POINTER, kHeaderText, kTag);
  EXPECT_CVR_ERROR(log_->ReadBlockHeader(&id, &conn, &tick, nullptr, &end), E_POINTER, kHeaderText, kTag);
  EXPECT_CVR_ERROR(log_->ReadBlockHeader(&id, &conn, &tick, &length, nullptr), E_POINTER, kHeaderText, kTag);
  EXPECT_CVR_ERROR(log_->ReadBlockData(nullptr, 0), E_POINTER,
                   "One ore more ReadBlockData method parameters are NULL", kTag);
  EXPECT_CVR_ERROR(log_->GetFileSize(nullptr), E_POINTER,
                   "One ore more GetFileSize method parameters are NULL", kTag);
  EXPECT_CVR_ERROR(log_->GetFilePointerPos(nullptr), E_POINTER,
                   "One ore more GetFilePointerPos method parameters are NULL", kTag);
}

}  // namespace
}  // namespace corvane::test
