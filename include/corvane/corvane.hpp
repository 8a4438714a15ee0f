// corvane: a header-only C++20 layer over <corvane/corvane.h>.
//
// Owning interface pointers, exceptions instead of HRESULTs, UTF-8 text and
// std::filesystem paths instead of BSTRs, and a recorder and a reader of
// LogFile2 logs with a range-for over the records. Everything it does is a
// call of the interfaces; the raw object stays reachable through object().
//
//   corvane::com_init com;             // COM on Windows, nothing elsewhere
//   corvane::recorder out;
//   out.open("trace.cvr");
//   out.write(CVR_ID_COMMENT, 1, std::string_view("hello"));
//   out.close();
//   corvane::reader in;
//   in.open("trace.cvr");
//   for (const auto& record : in) use(record.block_id(), record.data());
#ifndef CORVANE_CORVANE_HPP_
#define CORVANE_CORVANE_HPP_

#if __cplusplus < 202002L
#error "<corvane/corvane.hpp> needs C++20 (-std=c++20); <corvane/corvane.h> alone needs C++17"
#endif

#include <corvane/corvane.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iterator>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace corvane {

// ---- Interface pointers ----

// Owns one reference to an interface: Release when it lets go, AddRef when
// it is copied, nothing when it is moved.
template <class I>
class com_ptr {
 public:
  com_ptr() = default;
  ~com_ptr() { reset(); }
  com_ptr(const com_ptr& other) : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  com_ptr(com_ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  com_ptr& operator=(com_ptr other) noexcept {  // copy or move, then swap
    std::swap(p_, other.p_);
    return *this;
  }

  I* get() const noexcept { return p_; }
  I* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // Releases the interface held and hands out the empty slot for a method's
  // out-parameter; put_void() for the void** of QueryInterface and friends.
  I** put() noexcept {
    reset();
    return &p_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  void reset() noexcept {
    if (p_) std::exchange(p_, nullptr)->Release();
  }

 private:
  I* p_ = nullptr;
};

// ---- Text ----

namespace detail {

inline std::u16string utf8_to_utf16(std::string_view in) {
  std::u16string out;
  for (size_t i = 0; i < in.size();) {
    char32_t c = static_cast<unsigned char>(in[i++]);
    const int extra = c < 0xC0 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    if (extra) c &= 0x3Fu >> extra;
    for (int k = 0; k < extra && i < in.size(); ++k) c = c << 6 | (in[i++] & 0x3F);
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      c = 0xDC00 + ((c - 0x10000) & 0x3FF);
    }
    out.push_back(static_cast<char16_t>(c));
  }
  return out;
}

inline std::string utf16_to_utf8(const OLECHAR* in, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    char32_t c = static_cast<char16_t>(in[i]);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < length) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(in[++i]) - 0xDC00);
    }
    const int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    // Lead byte 0xxxxxxx, 110xxxxx, 1110xxxx or 11110xxx, then 10xxxxxx each.
    out.push_back(static_cast<char>((extra ? 0xFF00 >> (extra + 1) : 0) | c >> (6 * extra)));
    for (int k = extra - 1; k >= 0; --k) out.push_back(static_cast<char>(0x80 | (c >> (6 * k) & 0x3F)));
  }
  return out;
}

}  // namespace detail

// Owns one BSTR. The one place where UTF-8 text and paths become the
// library's UTF-16 strings and back.
class bstr {
 public:
  bstr() = default;
  explicit bstr(std::string_view utf8) {
    const std::u16string wide = detail::utf8_to_utf16(utf8);
    s_ = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()),
                           static_cast<unsigned>(wide.size()));
    if (!s_ && !wide.empty()) throw std::bad_alloc();
  }
  static bstr from_path(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return bstr(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
  }
  ~bstr() { SysFreeString(s_); }
  bstr(bstr&& other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
  bstr& operator=(bstr other) noexcept {
    std::swap(s_, other.s_);
    return *this;
  }

  BSTR get() const noexcept { return s_; }
  BSTR* put() noexcept {  // frees the string held and hands out the empty slot
    SysFreeString(std::exchange(s_, nullptr));
    return &s_;
  }
  std::string str() const { return s_ ? detail::utf16_to_utf8(s_, SysStringLen(s_)) : std::string(); }

 private:
  BSTR s_ = nullptr;
};

// ---- Errors ----

// A failed call: the HRESULT and the description of the error object the
// call posted ("text;TAG=0x<code>").
class Error : public std::runtime_error {
 public:
  Error(HRESULT code, const std::string& what) : std::runtime_error(what), code_(code) {}
  HRESULT code() const noexcept { return code_; }

 private:
  HRESULT code_;
};

// Takes the calling thread's error object out of its slot and returns its
// description; a text with the code when there is none.
inline std::string error_description(HRESULT code) {
  com_ptr<IErrorInfo> info;
  bstr text;
  if (GetErrorInfo(0, info.put()) == S_OK && info && SUCCEEDED(info->GetDescription(text.put())) &&
      text.get()) {
    return text.str();
  }
  char hex[40];
  std::snprintf(hex, sizeof hex, "failed with code 0x%08x", static_cast<unsigned>(code));
  return hex;
}

inline void check(HRESULT code) {
  if (FAILED(code)) throw Error(code, error_description(code));
}

// ---- Objects ----

// COM for the calling thread while it lives: CoInitializeEx/CoUninitialize
// on Windows, nothing elsewhere (the library needs no set-up there).
class com_init {
 public:
#ifdef _WIN32
  explicit com_init(DWORD model = COINIT_MULTITHREADED) : hr_(CoInitializeEx(nullptr, model)) {
    if (hr_ != RPC_E_CHANGED_MODE) check(hr_);  // another model already set: COM is usable
  }
#else
  com_init() noexcept {}
#endif
  ~com_init() {  // user-provided everywhere, so that an unused-looking guard draws no warning
#ifdef _WIN32
    if (SUCCEEDED(hr_)) CoUninitialize();
#endif
  }
  com_init(const com_init&) = delete;
  com_init& operator=(const com_init&) = delete;

#ifdef _WIN32
 private:
  HRESULT hr_;
#endif
};

// A new object of class `clsid` asked for interface `iid`: on Windows through
// CoCreateInstance (the registered corvane.dll), elsewhere through the linked
// library's class object.
template <class I>
com_ptr<I> create(REFCLSID clsid, REFIID iid) {
  com_ptr<I> object;
#ifdef _WIN32
  check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object.put_void()));
#else
  com_ptr<IClassFactory> factory;
  check(DllGetClassObject(clsid, IID_IClassFactory, factory.put_void()));
  check(factory->CreateInstance(nullptr, iid, object.put_void()));
#endif
  return object;
}

// ---- LogFile2 ----

namespace detail {

// Owns a LogFile2 object and the open log: the destructor closes it without
// throwing (a failed Close leaves its error object behind, dropped here).
class log_file2 {
 public:
  log_file2() : log_(create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2)) {}
  ~log_file2() {
    if (open_ && FAILED(log_->Close())) (void)error_description(E_FAIL);
  }
  log_file2(const log_file2&) = delete;
  log_file2& operator=(const log_file2&) = delete;

  // Writes out what is buffered, stores changed bookmarks, closes the file.
  // A failed Close keeps the log open for another attempt.
  void close() {
    if (!open_) return;
    check(log_->Close());
    open_ = false;
  }
  bool is_open() const noexcept { return open_; }
  EnumFileVersion version() const noexcept { return version_; }
  ILogFile2* object() const noexcept { return log_.get(); }

 protected:
  void open(const std::filesystem::path& path, EnumFileAccessMode mode, EnumFileVersion version,
            bool full_flush) {
    close();
    check(log_->Open(bstr::from_path(path).get(), mode, &version, full_flush ? TRUE : FALSE));
    version_ = version;
    open_ = true;
  }

  com_ptr<ILogFile2> log_;
  EnumFileVersion version_ = FileVersionUnknown;
  bool open_ = false;
};

}  // namespace detail

// Time stamp mode of a written block: the caller's time stamp, none (0) or
// given (1); or the library stamps the block now (2), or now and restarts
// its time base (3).
enum class stamp : BYTE { none = 0, given = 1, now = 2, now_restart = 3 };

// Records a log: blocks, bulk blocks and bookmarks.
class recorder : public detail::log_file2 {
 public:
  // Creates `path` in `version` (1.02, e1.02, u1.02 or e1.01); create-always
  // replaces the log and its index and bookmark files, create-new fails
  // when any of them exists. `full_flush` writes every block through.
  void open(const std::filesystem::path& path, EnumFileVersion version = FileVersionCVR_V0102,
            EnumFileAccessMode mode = FileAccessModeWriteCreateAlways, bool full_flush = false) {
    log_file2::open(path, mode, version, full_flush);
  }

  void write(USHORT block_id, BYTE connection, std::span<const std::byte> data,
             stamp mode = stamp::now, ULONGLONG time_stamp = 0) {
    write_block(block_id, connection, data, mode, time_stamp, 0);
  }
  void write(USHORT block_id, BYTE connection, std::string_view text, stamp mode = stamp::now,
             ULONGLONG time_stamp = 0) {
    write(block_id, connection, std::as_bytes(std::span(text.data(), text.size())), mode, time_stamp);
  }
  // One CVR_ID_MULTI_QUIVOX_MSG block holding `messages` messages, laid out
  // by the caller as the generation wants them (each a 6-byte head whose
  // last two bytes give the payload length big-endian, then the payload;
  // padded to 4 bytes except in 1.02 and e1.02). Readers return each
  // message as a record of its own.
  void write_bulk(BYTE connection, std::span<const std::byte> data, ULONG messages,
                  stamp mode = stamp::now, ULONGLONG time_stamp = 0) {
    write_block(CVR_ID_MULTI_QUIVOX_MSG, connection, data, mode, time_stamp, messages);
  }
  // A bookmark before the next message written (a CVR_ID_BOOKMARK block).
  // The comment is in the system's 8-bit code page: UTF-8 on Linux.
  void write_bookmark(std::string_view comment) {
    const std::string text(comment);  // the library reads the comment up to its zero
    write_block(CVR_ID_BOOKMARK, 0, std::as_bytes(std::span(text.data(), text.size())), stamp::none, 0, 0);
  }
  // Writes the buffered blocks to the file.
  void flush() { check(log_->FlushLogfile()); }

 private:
  void write_block(USHORT id, BYTE connection, std::span<const std::byte> data, stamp mode,
                   ULONGLONG time_stamp, ULONG messages) {
    LogBlockHeader header{};
    header.wBlockID = id;
    header.byConnID = connection;
    header.byTimeStampMode = static_cast<BYTE>(mode);
    header.qwTimeStamp = time_stamp;
    header.dwDataLength = static_cast<ULONG>(data.size());
    BYTE none = 0;  // the method wants a buffer even for no data
    BYTE* bytes = data.empty() ? &none : reinterpret_cast<BYTE*>(const_cast<std::byte*>(data.data()));
    check(log_->WriteBlock(reinterpret_cast<BYTE*>(&header), sizeof header, bytes,
                           header.dwDataLength, messages));
  }
};

// One record of a log as the reader hands it out. data() lives in the
// reader's buffer until the next record is read.
class record {
 public:
  const LogBlockHeader& header() const noexcept { return header_; }
  USHORT block_id() const noexcept { return header_.wBlockID; }
  BYTE connection() const noexcept { return header_.byConnID; }
  BYTE time_stamp_mode() const noexcept { return header_.byTimeStampMode; }
  ULONGLONG time_stamp() const noexcept { return header_.qwTimeStamp; }
  ULONG size() const noexcept { return header_.dwDataLength; }
  // Messages and bookmarks counted from 0 in reading order, as Jump numbers them.
  std::int64_t number() const noexcept { return number_; }
  bool is_bookmark() const noexcept { return header_.wBlockID == CVR_ID_BOOKMARK; }
  std::span<const std::byte> data() const noexcept { return data_; }

 private:
  friend class reader;
  LogBlockHeader header_{};
  std::int64_t number_ = -1;
  std::span<const std::byte> data_;
};

struct bookmark {
  std::int64_t message_number;  // where it stands among the messages
  std::string comment;
};

// Reads a log of any generation LogFile2 opens, with its index and bookmarks.
class reader : public detail::log_file2 {
 public:
  class iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = record;
    using difference_type = std::ptrdiff_t;
    using pointer = const record*;
    using reference = const record&;

    iterator() = default;
    explicit iterator(reader* owner) : owner_(owner) { ++*this; }
    const record& operator*() const noexcept { return owner_->record_; }
    const record* operator->() const noexcept { return &owner_->record_; }
    iterator& operator++() {
      if (!owner_->next()) owner_ = nullptr;
      return *this;
    }
    void operator++(int) { ++*this; }
    bool operator==(std::default_sentinel_t) const noexcept { return owner_ == nullptr; }

   private:
    reader* owner_ = nullptr;
  };

  void open(const std::filesystem::path& path) {
    log_file2::open(path, FileAccessModeReadOnly, FileVersionUnknown, false);
    next_number_ = 0;
  }

  // The records from the reader's place (the start, or where jump() put it)
  // to the end of the log; Error on damage.
  iterator begin() { return iterator(this); }
  std::default_sentinel_t end() const noexcept { return {}; }

  // Reads the next record; false at the end of the log.
  bool next() {
    LogBlockHeader header{};
    ULONG returned = 0;
    LONG end_of_file = 0;
    check(log_->ReadBlockHeader(reinterpret_cast<BYTE*>(&header), sizeof header, &returned,
                                &end_of_file));
    if (end_of_file) return false;
    // Grows only: no allocation per record once the buffer is large enough.
    if (buffer_.size() <= header.dwDataLength) buffer_.resize(header.dwDataLength + size_t{1});
    check(log_->ReadBlockData(reinterpret_cast<BYTE*>(buffer_.data()), header.dwDataLength));
    record_.header_ = header;
    record_.number_ = next_number_++;
    record_.data_ = std::span<const std::byte>(buffer_.data(), header.dwDataLength);
    return true;
  }

  // Places the reader on message `number` (bookmarks counted). Needs an
  // index of the log: one found at open() or made by index().
  void jump(std::int64_t number) {
    check(log_->Jump(number));
    next_number_ = number;
  }

  // The bookmarks in list order: message number and comment.
  std::vector<bookmark> bookmarks() {
    LONGLONG count = 0;
    check(log_->GetBookmarkCount(&count));
    std::vector<bookmark> list(static_cast<size_t>(count));
    if (count > 0) check(log_->BookmarkJump(0));  // BookmarkRead then moves on by itself
    for (LONGLONG i = 0; i < count; ++i) {
      bstr comment;
      check(log_->GetBookmarkBlockNumber(i, &list[static_cast<size_t>(i)].message_number));
      check(log_->BookmarkRead(comment.put()));
      list[static_cast<size_t>(i)].comment = comment.str();
    }
    return list;
  }
  // Puts a bookmark at message `number` (at most the record count, which
  // needs an index); close() stores it in the bookmark file.
  void insert_bookmark(std::int64_t number, std::string_view comment) {
    check(log_->InsertBookmark(number, bstr(comment).get()));
  }
  // Changes the comment of, or removes, bookmark `i` of the list (in list
  // order, as bookmarks() gives them); close() stores the change.
  void edit_bookmark(std::int64_t i, std::string_view comment) {
    check(log_->BookmarkJump(i));
    check(log_->BookmarkEdit(bstr(comment).get()));
  }
  void delete_bookmark(std::int64_t i) {
    check(log_->BookmarkJump(i));
    check(log_->BookmarkDelete());
  }

  // The records the index counts so far, bookmarks included (all of them
  // once index() has returned); 0 without an index.
  std::int64_t indexed_count() {
    LONGLONG count = 0;
    check(log_->GetIndexedRecCount(&count));
    return count;
  }
  // The log's size in bytes.
  std::int64_t file_size() {
    LONGLONG size = 0;
    check(log_->GetFileSize(&size));
    return size;
  }

  // Builds the index with one record per `resolution` messages and waits for
  // it. CreateIndex runs in the background and reports only the file
  // position reached, so this polls it and calls `progress` with the
  // percentage of the file whenever it changes. The pass counts as over
  // once it has reached the end of the file, the index in use has the
  // resolution asked for and nothing has moved for a few polls (the thread
  // still stores the count after the last message); or when nothing has
  // moved for five seconds (a damaged end that the pass never passes; the
  // thread reports its failures in a message box). Returns the number of
  // records the index counts, bookmarks included.
  std::int64_t index(const std::function<void(int percent)>& progress = {}, LONGLONG resolution = 100) {
    using clock = std::chrono::steady_clock;
    LONGLONG size = 0, position = -1, count = -1, in_use = -1;
    check(log_->GetFileSize(&size));
    check(log_->CreateIndex(resolution));
    int percent = -1, settled = 0;
    for (auto moved_at = clock::now(); clock::now() - moved_at < std::chrono::seconds(5);) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      LONGLONG p = 0, n = 0, r = 0;
      check(log_->GetIndexingProgress(&p));
      check(log_->GetIndexedRecCount(&n));
      check(log_->GetIndexResolution(&r));
      const bool moved = p != position || n != count || r != in_use;
      position = p, count = n, in_use = r;
      if (moved) moved_at = clock::now();
      const int now = size > 0 ? static_cast<int>((std::min)(p, size) * 100 / size) : 100;
      if (now != percent && progress) progress(now);
      percent = now;
      if (p >= size && r == resolution && (moved ? settled = 0 : ++settled) >= 5) break;
    }
    return count;
  }

 private:
  record record_;
  std::vector<std::byte> buffer_;
  std::int64_t next_number_ = 0;
};
static_assert(std::input_iterator<reader::iterator>);

}  // namespace corvane

#endif  // CORVANE_CORVANE_HPP_
