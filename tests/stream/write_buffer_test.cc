// The writers' one take-back policy, against a file in memory that runs out
// of room: a failed Append or Flush leaves file and buffer as they were, and
// once there is room again the log holds exactly the records that were
// accepted, whatever the buffer size, however records straddle buffers, and
// enciphered or not.
#include "stream/write_buffer.h"

#include <corvane/corvane.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "stream/cipher.h"

namespace corvane::stream {
namespace {

class SmallDisk final : public ByteSink {
 public:
  int64_t position() const override { return pos; }
  Status Write(const void* src, uint32_t n, uint32_t* written) override {
    *written = static_cast<uint32_t>(std::min<uint64_t>(n, room));
    room -= *written;
    file.resize(std::max<size_t>(file.size(), static_cast<size_t>(pos) + *written));
    if (*written > 0) std::memcpy(file.data() + pos, src, *written);
    pos += *written;
    return *written == n ? Status::Ok() : Status::Error(kErrDiskFull);
  }
  Status CutAt(int64_t offset) override {
    if (cut_fails) return Status::Error(kErrIoDevice);
    return file.resize(static_cast<size_t>(offset)), pos = offset, Status::Ok();
  }

  std::vector<uint8_t> file;
  int64_t pos = 0;
  uint64_t room = UINT64_MAX;
  bool cut_fails = false;
};

TEST(WriteBufferTest, AFailedCallChangesNothingAndARetryWritesTheRecordOnce) {
  CipherParameters cipher;
  ASSERT_TRUE(cipher.Load(FileVersionCVR_Ve102).ok());
  const struct { uint32_t capacity; bool enciphered; } cases[] = {
      {0, false}, {64, false}, {1000, false}, {128, true}, {1024, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.capacity << (c.enciphered ? " enciphered" : ""));
    std::mt19937 random(c.capacity);
    SmallDisk disk;
    WriteBuffer buffer;
    ASSERT_TRUE(buffer.Allocate(c.capacity));
    buffer.Attach(&disk, c.enciphered ? &cipher : nullptr);
    std::vector<uint8_t> accepted;
    int failures = 0;
    for (int i = 0; i < 3000; ++i) {
      // Mostly small records, some spanning several buffers.
      std::vector<uint8_t> record(random() % 8 == 0 ? random() % 3500 : random() % 40);
      for (auto& b : record) b = static_cast<uint8_t>(random());
      const uint32_t head = std::min<uint32_t>(static_cast<uint32_t>(record.size()), random() % 20);
      if (random() % 16 == 0) disk.room = random() % 3000;
      // Writes only append and cut-backs only truncate, so the length tells
      // whether the file changed; the final comparison checks the bytes.
      const size_t file_before = disk.file.size();
      const uint32_t fill_before = buffer.fill();
      const uint32_t data = static_cast<uint32_t>(record.size()) - head;
      if (!buffer.Append(record.data(), head, record.data() + head, data).ok()) {
        ++failures;
        ASSERT_EQ(std::make_tuple(disk.file.size(), buffer.fill(), disk.pos),
                  std::make_tuple(file_before, fill_before, static_cast<int64_t>(file_before)));
        ASSERT_TRUE(buffer.fill() == 0 || random() % 2 == 0 || (!buffer.Flush().ok() && disk.file.size() == file_before));
        disk.room = UINT64_MAX;
        ASSERT_TRUE(buffer.Append(record.data(), head, record.data() + head, data).ok());
      }
      accepted.insert(accepted.end(), record.begin(), record.end());
    }
    disk.room = UINT64_MAX;
    ASSERT_TRUE(buffer.Flush().ok());
    EXPECT_GT(failures, 50);
    ASSERT_TRUE(!c.enciphered || DecipherInPlace(cipher, disk.file.data(), disk.file.size()).ok());
    EXPECT_EQ(disk.file, accepted);
    // A log that now ends in a short cipher block takes nothing more.
    EXPECT_EQ(buffer.Append(accepted.data(), 1, nullptr, 0).ok(), !c.enciphered || accepted.size() % cipher.block_size == 0);
  }
}

TEST(WriteBufferTest, AFileThatCannotBeCutBackBreaksTheBuffer) {
  SmallDisk disk;
  WriteBuffer buffer;
  buffer.Attach(&disk, nullptr);
  const uint8_t block[16] = {};
  disk.room = 20;
  disk.cut_fails = true;
  bool head_failed = true;
  EXPECT_EQ(buffer.Append(block, 8, block, 16, &head_failed).code(), kErrDiskFull);
  EXPECT_TRUE(buffer.broken() && !head_failed);
  disk.room = UINT64_MAX;
  EXPECT_EQ(buffer.Append(block, 8, block, 8, &head_failed).code(), kErrInvalidHandle);
  EXPECT_TRUE(head_failed && buffer.Flush().code() == kErrInvalidHandle);
}

}  // namespace
}  // namespace corvane::stream
