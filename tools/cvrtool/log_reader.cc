#include "log_reader.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "bstr.h"
#include "names.h"

namespace cvrtool {
namespace {

// The log, or the first companion beside it that exists but cannot be read
// (a failed open of LogFile2 does not say which file failed).
std::string UnreadableFile(const std::string& path) {
  const std::filesystem::path log(path);
  for (const char* extension : {".bmk", ".idx"}) {
    std::filesystem::path companion = log;
    companion.replace_extension(extension);
    std::error_code ec;
    if (!std::filesystem::exists(companion, ec)) continue;
    std::ifstream in(companion, std::ios::binary);
    char byte;
    if (!in || (!in.read(&byte, 1) && !in.eof())) return "the " + std::string(extension + 1) +
                                                          " file " + companion.string() + " of " + path;
  }
  return path;
}

}  // namespace

LogReader::LogReader(const std::string& path) : path_(path) {
  const Bstr name = Bstr::FromFileName(path);
  log2_ = CreateLogFile2();
  EnumFileVersion version = FileVersionUnknown;
  const HRESULT hr = log2_->Open(name.get(), FileAccessModeReadOnly, &version, FALSE);
  if (SUCCEEDED(hr)) {
    version_ = version;
    RefreshBookmarks();
  } else if (std::error_code ec; !std::filesystem::exists(path, ec)) {
    throw ToolError("cannot open " + path + ": no such file");
  } else if (static_cast<unsigned>(hr) != static_cast<unsigned>(E_CVR_FILE_HEADER_INFO_WRONG_VERSION)) {
    // LogFile2 reads this generation but could not open the log or one of
    // its companions: name the file, and never go on without its bookmarks.
    const std::string first = DescribeFailure(hr);
    throw LibraryError("cannot open " + UnreadableFile(path), hr, first);
  } else {
    const std::string first = DescribeFailure(hr);
    log2_.Reset();
    // LogFile reads the older formats with readers of its own.
    ComPtr<ILogFile> log1 = CreateLogFile();
    EnumFileVersion v1 = FileVersionUnknown;
    if (FAILED(log1->Open(name.get(), FileAccessModeReadOnly, &v1))) {
      ClearError();  // LogFile's own failure: LogFile2's tells more
      throw LibraryError("cannot open " + path + " (not a log format the library reads)", hr, first);
    }
    log1_ = std::move(log1);
    version_ = v1;
  }
  prev_end_ = HasBlockHeaders(version_) ? FileHeaderLength(version_) : -1;
}

int64_t LogReader::FileSize() {
  if (log2_) {
    LONGLONG size = 0;
    Check(log2_->GetFileSize(&size), "GetFileSize");
    return size;
  }
  ULONGLONG size = 0;
  Check(log1_->GetFileSize(&size), "GetFileSize");
  return static_cast<int64_t>(size);
}

int64_t LogReader::Position() {
  if (log2_) {
    LONGLONG pos = 0;
    const HRESULT hr = log2_->GetFilePointerPos(&pos);
    if (FAILED(hr)) Check(hr, "GetFilePointerPos");
    return pos;
  }
  ULONGLONG pos = 0;
  Check(log1_->GetFilePointerPos(&pos), "GetFilePointerPos");
  return static_cast<int64_t>(pos);
}

void LogReader::RefreshBookmarks() {
  bookmark_numbers_.clear();
  if (!log2_) return;
  LONGLONG count = 0;
  Check(log2_->GetBookmarkCount(&count), "GetBookmarkCount");
  for (LONGLONG i = 0; i < count; ++i) {
    LONGLONG number = 0;
    Check(log2_->GetBookmarkBlockNumber(i, &number), "GetBookmarkBlockNumber");
    bookmark_numbers_.push_back(number);
  }
  next_bookmark_ = static_cast<size_t>(
      std::lower_bound(bookmark_numbers_.begin(), bookmark_numbers_.end(), number_) -
      bookmark_numbers_.begin());
}

bool LogReader::Next(Record* record, bool with_data) {
  LogBlockHeader header{};
  ULONG returned = 0;
  LONG end = 0;
  // The failure texts are made only on failure: this is the per-record path.
  const int64_t number = number_;
  auto at = [number] { return "message " + std::to_string(number); };
  const HRESULT read =
      log2_ ? log2_->ReadBlockHeader(reinterpret_cast<BYTE*>(&header), sizeof header, &returned, &end)
            : log1_->ReadBlockHeader(reinterpret_cast<BYTE*>(&header), sizeof header, &returned, &end);
  if (FAILED(read)) Check(read, "reading the header of " + at());
  if (end) return false;

  Record& r = *record;
  r.number = number_++;
  r.header = header;
  r.is_bookmark = next_bookmark_ < bookmark_numbers_.size() &&
                  bookmark_numbers_[next_bookmark_] == r.number;
  r.offset = -1;
  r.bulk = BulkRole::kUnknown;
  if (r.is_bookmark) {
    ++next_bookmark_;
  } else {
    r.offset = Position();
    const int header_length = BlockHeaderLength(version_);
    const bool message = header.wBlockID == CVR_ID_QUIVOX_MSG && header.byConnID == 0xFF;
    if (!message && header_length > 0) {
      r.bulk = BulkRole::kNone;  // bulk blocks hand out nothing else
    } else if (prev_end_ >= 0 && header_length > 0) {
      const int64_t gap = r.offset - prev_end_;
      if (gap == header_length) {
        r.bulk = BulkRole::kNone;
      } else if (message && gap == 0) {
        r.bulk = BulkRole::kNext;
      } else if (message && gap == header_length + 4) {
        r.bulk = BulkRole::kFirst;
      }
    }
    prev_end_ = header_length > 0 ? r.offset + header.dwDataLength : -1;
  }

  r.data.clear();
  if (with_data) {
    // A record's length never exceeds what is left of the file (LogFile2
    // checks that before it returns the header); LogFile is held to the
    // same bound here so that a damaged length cannot drive the allocation.
    if (!log2_ && header.dwDataLength > static_cast<uint64_t>(FileSize())) {
      throw ToolError("reading " + at() + ": data length " + std::to_string(header.dwDataLength) +
                      " exceeds the file size");
    }
    r.data.resize(header.dwDataLength);
    BYTE scratch = 0;
    BYTE* buffer = r.data.empty() ? &scratch : r.data.data();
    const HRESULT data = log2_ ? log2_->ReadBlockData(buffer, header.dwDataLength)
                               : log1_->ReadBlockData(buffer, header.dwDataLength);
    if (FAILED(data)) Check(data, "reading the data of " + at());
  }
  return true;
}

std::string LogReader::TrailingDamage() {
  if (prev_end_ < 0) return "";
  const int64_t size = FileSize();
  if (prev_end_ >= size) return "";
  return std::to_string(size - prev_end_) + " bytes after the last complete record at offset " +
         std::to_string(prev_end_) + " (a block cut short)";
}

void LogReader::Jump(int64_t number) {
  if (!log2_) throw ToolError(std::string("jumping needs LogFile2, which cannot read this log"));
  Check(log2_->Jump(number), "jumping to message " + std::to_string(number));
  number_ = number;
  prev_end_ = -1;
  next_bookmark_ = static_cast<size_t>(
      std::lower_bound(bookmark_numbers_.begin(), bookmark_numbers_.end(), number) -
      bookmark_numbers_.begin());
}

void LogReader::Close() {
  if (closed_) return;
  closed_ = true;
  if (log2_) {
    Check(log2_->Close(), "closing " + path_);
  } else {
    Check(log1_->Close(), "closing " + path_);
  }
}

}  // namespace cvrtool
