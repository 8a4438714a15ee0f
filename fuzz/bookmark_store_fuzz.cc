// Fuzzes the bookmark store: part 0 is a bookmark file ("bmk", any kind:
// plain, enciphered, big-endian), part 1 a list of steps on the loaded
// list, then the kind to save it in.
//
//   part 1, per step: [op] then operands
//     op % 8 == 0  PositionReader(i64)        4  EditCurrent(comment)
//              1   Insert(i64, comment)        5  DeleteCurrent
//              2   Select(i16)                 6  MessageNumberOf(i16)
//              3   AdvanceCurrent, Reader      7  BookmarkNumberOf(i64)
//   and a last byte: save as the bookmarks of a log of generation 8, 7 or 9.
//
// Properties: Load never crashes, hangs or allocates for a count it has not
// read; the cursors stay within the list; a list that is saved and loaded
// again comes back the same (numbers, lengths and delivered bytes), in
// every kind.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "logfile2/bookmark_store.h"

using corvane::fuzz::Controls;
using corvane::logfile2::Bookmark;
using corvane::logfile2::BookmarkStore;

namespace {

std::string Comment(Controls& c, uint32_t* length) {
  std::string text(c.Byte() % 12, ' ');
  for (char& ch : text) ch = static_cast<char>(1 + c.Byte() % 255);  // no zero byte
  *length = static_cast<uint32_t>(text.size()) + c.Byte() % 3;     // may be padded
  return text;
}

void CheckCursors(const BookmarkStore& s) {
  const Bookmark* current = s.Current();
  const Bookmark* next = s.NextToDeliver();
  const auto& list = s.list();
  if (current) CORVANE_FUZZ_CHECK(current >= list.data() && current < list.data() + list.size());
  if (next) CORVANE_FUZZ_CHECK(next >= list.data() && next < list.data() + list.size());
}

void RunSteps(BookmarkStore& s, Controls& c) {
  for (int step = 0; step < 32 && !c.empty(); ++step) {
    const size_t before = s.size();
    switch (c.Byte() % 8) {
      case 0: {
        const int64_t at = s.PositionReader(static_cast<int64_t>(c.U64()));
        CORVANE_FUZZ_CHECK(at >= 0 && static_cast<size_t>(at) <= s.size());
        break;
      }
      case 1: {
        const auto number = static_cast<int64_t>(c.U64() >> 1);  // not negative
        uint32_t length = 0;
        std::string comment = Comment(c, &length);
        s.Insert(number, length, std::move(comment));
        CORVANE_FUZZ_CHECK(s.size() == before + 1);
        break;
      }
      case 2: (void)s.Select(static_cast<int16_t>(c.U16())); break;
      case 3:
        s.AdvanceCurrent();
        s.AdvanceReader();
        break;
      case 4: {
        uint32_t length = 0;
        std::string comment = Comment(c, &length);
        const bool had = s.Current() != nullptr;
        CORVANE_FUZZ_CHECK(s.EditCurrent(length, std::move(comment)) == had);
        break;
      }
      case 5: {
        const bool had = s.Current() != nullptr;
        CORVANE_FUZZ_CHECK(s.DeleteCurrent() == had);
        CORVANE_FUZZ_CHECK(s.size() == before - (had ? 1 : 0));
        break;
      }
      case 6: {
        int64_t number = 0;
        const int16_t which = static_cast<int16_t>(c.U16());
        CORVANE_FUZZ_CHECK(s.MessageNumberOf(which, &number) ==
                           (which >= 0 && static_cast<size_t>(which) < s.size()));
        break;
      }
      case 7: {
        int64_t number = 0;
        (void)s.BookmarkNumberOf(static_cast<int64_t>(c.U64()), &number);
        break;
      }
    }
    CheckCursors(s);
  }
}

void CheckSaveAndLoad(const BookmarkStore& s, EnumFileVersion log_version) {
  // A store of its own: Save writes the file of "saved.cvr".
  BookmarkStore copy;
  for (const Bookmark& b : s.list()) copy.Append(b.log_message_number, b.length, b.comment);
  const std::string saved = corvane::fuzz::ScratchPath("saved.cvr");
  if (!copy.Save(saved, log_version).ok()) return;  // e.g. a comment too long to write
  BookmarkStore again;
  uint32_t error = 0;
  const auto loaded = again.Load(saved, &error);
  if (s.empty()) {
    CORVANE_FUZZ_CHECK(loaded != BookmarkStore::LoadResult::kFailed);
    return;
  }
  CORVANE_FUZZ_CHECK(loaded == BookmarkStore::LoadResult::kLoaded);
  CORVANE_FUZZ_CHECK(again.size() == s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const Bookmark& a = s.list()[i];
    const Bookmark& b = again.list()[i];
    CORVANE_FUZZ_CHECK(a.log_message_number == b.log_message_number && a.length == b.length);
    CORVANE_FUZZ_CHECK(a.DeliveredBytes() == b.DeliveredBytes());
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  corvane::fuzz::InitFuzzEnvironment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parts = corvane::fuzz::SplitInput(data, size, 2);
  corvane::fuzz::WriteScratchFile("marks.bmk", parts[0]);
  BookmarkStore store;
  uint32_t error = 0;
  const auto result = store.Load(corvane::fuzz::ScratchPath("marks.cvr"), &error);
  CORVANE_FUZZ_CHECK(result != BookmarkStore::LoadResult::kNotFound);
  CORVANE_FUZZ_CHECK((result == BookmarkStore::LoadResult::kLoaded) == (error == 0));
  CORVANE_FUZZ_CHECK(store.Current() == nullptr);
  CheckCursors(store);
  size_t comment_bytes = 0;
  for (const Bookmark& b : store.list()) comment_bytes += b.comment.size();
  CORVANE_FUZZ_CHECK(comment_bytes <= parts[0].size());

  Controls c(parts[1]);
  RunSteps(store, c);
  static constexpr EnumFileVersion kLogs[] = {FileVersionCVR_V0102, FileVersionCVR_Ve102,
                                              FileVersionCVR_Vu102};
  CheckSaveAndLoad(store, kLogs[c.Byte() % 3]);
  return 0;
}
