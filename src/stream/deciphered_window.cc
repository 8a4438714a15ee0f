#include "stream/deciphered_window.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace corvane::stream {

using platform::SeekOrigin;

Status DecipheredWindow::Prepare(const CipherParameters& p, uint32_t header_length) {
  Reset();
  header_length_ = header_length;
  Status st = MakeSchedule(p, &schedule_);
  if (!st.ok()) schedule_ = CipherSchedule{};
  return st;
}

void DecipheredWindow::Reset() {
  Drop();
  schedule_ = CipherSchedule{};
}

Status DecipheredWindow::Fill(ByteSource& source, int64_t pos, Status* read_failure) {
  Drop();
  const uint32_t block = schedule_.block;
  if (block == 0) return Status::Error(kErrInvalidParameter);
  if (!bytes_) {
    bytes_.reset(new (std::nothrow) uint8_t[kCapacity]);
    if (!bytes_) return Status::Error(kErrNotEnoughMemory);
  }
  // Positions inside the header lie on the grid extended backwards.
  int64_t rel = (pos - static_cast<int64_t>(header_length_)) % block;
  if (rel < 0) rel += block;
  Status st = source.Seek(pos - rel, SeekOrigin::kBegin, nullptr);
  if (!st.ok()) return st;
  const uint32_t capacity = kCapacity / block * block;
  uint32_t got = 0;
  while (got < capacity) {
    uint32_t g = 0;
    st = source.Read(bytes_.get() + got, capacity - got, &g);
    got += g;
    if (!st.ok()) {
      *read_failure = st;
      got = got / block * block;  // whole blocks only
      break;
    }
    if (g == 0) break;
  }
  DecipherGrid(schedule_, bytes_.get(), got);
  start_ = pos - rel;
  end_ = start_ + got;
  whole_end_ = got == capacity ? end_ : start_ + got / block * block;
  return Status::Ok();
}

Status DecipheredWindow::Read(ByteSource& source, void* dst, uint32_t n, uint32_t* delivered) {
  *delivered = 0;
  int64_t pos = 0;
  Status st = source.Tell(&pos);
  if (!st.ok()) return st;
  int64_t end = 0;
  // A damaged position taken from a file must not wrap around.
  if (__builtin_add_overflow(pos, int64_t{n}, &end)) return Status::Error(kErrInvalidParameter);
  Status failure;
  if (!Holds(pos, n)) {
    // Reads as large as half the window gain nothing from it.
    if (n > kCapacity / 2) return Decipher(schedule_, source, header_length_, dst, n, delivered);
    st = Fill(source, pos, &failure);
    if (!st.ok()) return st;
  }
  const int64_t ready = pos >= start_ && end_ > pos ? end_ - pos : 0;
  *delivered = static_cast<uint32_t>(std::min<int64_t>(ready, n));
  if (*delivered > 0) std::memcpy(dst, bytes_.get() + (pos - start_), *delivered);
  end_ = whole_end_;  // a short last block is not served again
  st = source.Seek(end, SeekOrigin::kBegin, nullptr);
  // A failed read is reported once the blocks before it are delivered,
  // never taken for the end of the file; the window does not keep it.
  if (!failure.ok() && *delivered < n) {
    Drop();
    return failure;
  }
  return st;
}

Status DecipheredWindow::ReadAllOrNothing(ByteSource& source, void* dst, uint32_t n,
                                          uint32_t* delivered) {
  *delivered = 0;
  int64_t pos = 0;
  Status st = source.Tell(&pos);
  if (!st.ok()) return st;
  int64_t end = 0;
  if (__builtin_add_overflow(pos, int64_t{n}, &end)) return Status::Error(kErrInvalidParameter);
  if (!Holds(pos, n)) {
    if (n > kCapacity / 2) {
      return DecipherAllOrNothing(schedule_, source, header_length_, dst, n, delivered);
    }
    Status failure;
    st = Fill(source, pos, &failure);
    if (!st.ok()) return st;
    if (!failure.ok()) {
      Drop();
      return failure;
    }
  }
  const int64_t ready = pos >= start_ && end_ > pos ? end_ - pos : 0;
  if (ready < n) {
    // The end of the file: nothing is copied, and the pointer stays where
    // the read of the blocks stopped.
    *delivered = static_cast<uint32_t>(ready);
    st = source.Seek(end_, SeekOrigin::kBegin, nullptr);
    end_ = whole_end_;
    return st;
  }
  if (n > 0) std::memcpy(dst, bytes_.get() + (pos - start_), n);
  *delivered = n;
  end_ = whole_end_;
  return source.Seek(end, SeekOrigin::kBegin, nullptr);
}

}  // namespace corvane::stream
