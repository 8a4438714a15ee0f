// Every error the components report: each text with its code, defined once
// and used by name (`Raise(errors::kFileNotOpen)`). The texts are the ones
// clients have always seen, misspellings included; do not correct them.
//
// The core decides some texts itself (the record reader, for one); it
// returns a Result that carries the entry, and the component raises it.
#ifndef CORVANE_FRAME_ERROR_CATALOGUE_H_
#define CORVANE_FRAME_ERROR_CATALOGUE_H_

#include <corvane/corvane.h>

namespace corvane {

struct ErrorEntry {
  const char* text;
  HRESULT code;
};

// Success, or the catalogue entry to raise.
class [[nodiscard]] Result {
 public:
  constexpr Result() = default;
  constexpr Result(const ErrorEntry& entry) : entry_(&entry) {}  // NOLINT: implicit on purpose
  static constexpr Result Ok() { return Result(); }

  constexpr bool ok() const { return entry_ == nullptr; }
  // Only for a failed result.
  constexpr const ErrorEntry& entry() const { return *entry_; }

 private:
  const ErrorEntry* entry_ = nullptr;
};

namespace errors {

// ---- Arguments ----
// "One ore more ..." (sic) of the methods that say so, and the LogFile
// family's own wording of the same.
inline constexpr ErrorEntry kNullOpenParams{"One ore more Open method parameters are NULL", E_POINTER};
inline constexpr ErrorEntry kNullWriteBlockParams{"One ore more WriteBlock method parameters are NULL", E_POINTER};
inline constexpr ErrorEntry kNullReadBlockHeaderParams{"One ore more ReadBlockHeader method parameters are NULL", E_POINTER};
inline constexpr ErrorEntry kNullReadBlockDataParams{"One ore more ReadBlockData method parameters are NULL", E_POINTER};
inline constexpr ErrorEntry kNullGetFileSizeParams{"One ore more GetFileSize method parameters are NULL", E_POINTER};
inline constexpr ErrorEntry kNullGetFilePointerPosParams{"One ore more GetFilePointerPos method parameters are NULL", E_POINTER};
inline constexpr ErrorEntry kLogFileNullWriteBlockParams{"One or more WriteBlock method parameters are NULL", E_POINTER};
inline constexpr ErrorEntry kLogFileNullReadBlockHeaderParams{"One or more ReadBlockHeader method parameters are NULL", E_POINTER};
inline constexpr ErrorEntry kLogFileNullGetFilePointerPos{"GetFilePointerPos method parameter is NULL", E_POINTER};
inline constexpr ErrorEntry kNullPointers{"One or more NULL pointers passed", E_POINTER};
inline constexpr ErrorEntry kNullPointer{"NULL pointer passed", E_POINTER};
inline constexpr ErrorEntry kNullGetDiskBufferSize{"GetDiskBufferSize, NULL pointer passed", E_POINTER};
inline constexpr ErrorEntry kNullGetIndexedRecCount{"GetIndexedRecCount, Null pointer passed", E_POINTER};
inline constexpr ErrorEntry kNullGetIndexResolution{"GetIndexResolution, NULL pointer passed", E_POINTER};
inline constexpr ErrorEntry kNullGetIndexingProgress{"GetIndexingProgress, NULL pointer passed", E_POINTER};
inline constexpr ErrorEntry kNullGetDiskSectorSize{"GetDiskSectorSize, NULL pointer passed", E_POINTER};
inline constexpr ErrorEntry kNullGetBookmarkCount{"GetBookmarkCount, NULL pointer passed", E_POINTER};
inline constexpr ErrorEntry kNullBookmarkRead{"BookmarkRead, NULL pointer passed", E_POINTER};
inline constexpr ErrorEntry kNullGetBookmarkBlockNumber{"GetBookmarkBlockNumber, NULL pointer passed", E_POINTER};
inline constexpr ErrorEntry kNullGetBookmarkIndexNumber{"GetBookmarkIndexNumber, NULL pointer passed", E_POINTER};
inline constexpr ErrorEntry kInvalidIndexRes{"Invalid IndexRes parameter", E_CVR_INVALID_PARAM};
inline constexpr ErrorEntry kInvalidBulkCount{"Invalid bulk block message count", E_CVR_INVALID_PARAM};
inline constexpr ErrorEntry kInvalidComment{"Invalid comment parameter value", E_CVR_INVALID_PARAM};
inline constexpr ErrorEntry kInvalidMessageNumber{"Invalid message number parameter value", E_CVR_INVALID_PARAM};
inline constexpr ErrorEntry kInvalidDataBlockSize{"Invalid data block size", E_CVR_INVALID_DATA_BLOCK_SIZE};
inline constexpr ErrorEntry kIllegalAccessFlags{"Illegal Access Flag combination", E_CVR_INVALID_ACCESS_FLAG_COMBINATION};

// ---- Open ----
inline constexpr ErrorEntry kFileNotOpen{"File not open", E_CVR_FILE_NOT_OPEN};
inline constexpr ErrorEntry kFileAlreadyOpen{"File is already open", E_CVR_FILE_ALREADY_OPEN};
inline constexpr ErrorEntry kCreationFailed{"File creation failed", E_CVR_FILE_CREATION_FAILS};
inline constexpr ErrorEntry kCreationFailedName{"File creation failed", E_FAIL};
inline constexpr ErrorEntry kCreationFailedAccessMode{"File creation failed", E_CVR_INVALID_FILE_ACCESS_MODE};
inline constexpr ErrorEntry kCreationFailedCreateMode{"File creation failed", E_CVR_INVALID_CREATE_MODE};
inline constexpr ErrorEntry kCreationFailedFileFormat{"File creation failed", E_CVR_INVALID_FILE_FORMAT_PARAM};
inline constexpr ErrorEntry kCreationFailedHeaderWrite{"File creation failed", E_CVR_FILE_HEADER_INFO_WRITE_FAIL};
inline constexpr ErrorEntry kCreationFailedHeaderRead{"File creation failed", E_CVR_FILE_HEADER_INFO_READ_FAIL};
inline constexpr ErrorEntry kCreationFailedWrongVersion{"File creation failed", E_CVR_FILE_HEADER_INFO_WRONG_VERSION};
inline constexpr ErrorEntry kCreationFailedDiskFull{"File creation failed", E_CVR_DISK_FULL};
inline constexpr ErrorEntry kBufferTooLarge{"Insufficient memory for disk buffer size held in registry", E_CVR_DISK_BUFFER_TOO_LARGE};
inline constexpr ErrorEntry kBookmarkFileExists{"Bookmark file already exists", E_CVR_FILE_CREATION_FAILS};
inline constexpr ErrorEntry kIndexFileExists{"Index file already exists", E_CVR_FILE_CREATION_FAILS};
inline constexpr ErrorEntry kIndexFileInUse{"Cannot access the IDX file because it is being used by another process.", E_CVR_FILE_ALREADY_OPEN};
inline constexpr ErrorEntry kBookmarkFileInUse{"Cannot access the BMK file because it is being used by another process.", E_CVR_FILE_ALREADY_OPEN};

// "File creation failed" with the code an open step returned (one of the
// codes above; any other is reported as a failed create).
constexpr const ErrorEntry& CreationFailed(HRESULT code) {
  switch (code) {
    case E_CVR_FILE_HEADER_INFO_WRITE_FAIL: return kCreationFailedHeaderWrite;
    case E_CVR_FILE_HEADER_INFO_READ_FAIL: return kCreationFailedHeaderRead;
    case E_CVR_FILE_HEADER_INFO_WRONG_VERSION: return kCreationFailedWrongVersion;
    case E_CVR_DISK_FULL: return kCreationFailedDiskFull;
    default: return kCreationFailed;
  }
}

// ---- Reading ----
inline constexpr ErrorEntry kHeaderReadFailed{"Block header read failed", E_CVR_BLOCK_HEADER_READ_FAILED};
inline constexpr ErrorEntry kJumpReadFailed{"Failed to read block header", E_CVR_BLOCK_HEADER_READ_FAILED};
inline constexpr ErrorEntry kDataReadFailed{"Block data read failed", E_CVR_BLOCK_DATA_READ_FAILED};
inline constexpr ErrorEntry kDataSkipFailed{"Block data skip failed", E_CVR_BLOCK_DATA_SKIP_FAILED};
inline constexpr ErrorEntry kHeaderNotRead{"Block header not read", E_CVR_BLOCK_HEADER_NOT_READ};
inline constexpr ErrorEntry kLengthPastEnd{"Corrupt Block header, data length exceeds end of file", E_CVR_BLOCK_HEADER_DATA_CORRUPT};
inline constexpr ErrorEntry kCorruptFile{"Corrupt file", E_CVR_BLOCK_HEADER_DATA_CORRUPT};
inline constexpr ErrorEntry kFileSizeFailed{"Unable to get file size", E_FAIL};
inline constexpr ErrorEntry kFilePointerFailed{"File pointer get failed", E_FAIL};

// ---- Writing and closing ----
inline constexpr ErrorEntry kHeaderWriteFailed{"Block header write failed", E_CVR_BLOCK_HEADER_WRITE_FAILED};
inline constexpr ErrorEntry kHeaderWriteDiskFull{"Block header write failed, disk full", E_CVR_DISK_FULL};
inline constexpr ErrorEntry kDataWriteFailed{"Block data write failed", E_CVR_BLOCK_DATA_WRITE_FAILED};
inline constexpr ErrorEntry kDataWriteDiskFull{"Block data write failed, disk full", E_CVR_DISK_FULL};
inline constexpr ErrorEntry kInsufficientDiskSpace{"Insufficient disk space", E_CVR_DISK_FULL};
inline constexpr ErrorEntry kFinalFlushDiskFull{"Insufficient disk space, final buffer flush failed", E_CVR_DISK_FULL};
inline constexpr ErrorEntry kOutOfDiskSpace{"Out of disk space", E_CVR_DISK_FULL};
inline constexpr ErrorEntry kFlushFailed{"Cannot flush buffered data to disk", E_CVR_BUFFER_FLUSH_FAILED};
inline constexpr ErrorEntry kFileFlushFailed{"File flush failed", E_CVR_FILE_FLUSH_FAILED};
inline constexpr ErrorEntry kBookmarkSaveFailed{"Failed to write Bookmarks to disk", E_CVR_BOOKMARK_DUMP_FAILED};

// ---- Index and bookmarks ----
inline constexpr ErrorEntry kIndexCreateFailed{"Failed to create Index file", E_CVR_FILE_CREATION_FAILS};
inline constexpr ErrorEntry kIndexThreadFailed{"Failed to create Index file", E_CVR_INDEXING_THREAD_FAILED};
inline constexpr ErrorEntry kIncompatibleDiskDrive{"Incompatible disk drive", E_CVR_INCOMPATIBLE_DISKDRIVE};
inline constexpr ErrorEntry kMsgNoExceedsCount{"MsgNo exceeds record count", E_CVR_MSG_COUNT_EXCEEDED};
inline constexpr ErrorEntry kTotalCountExceeded{"Total Message Count Exceeded", E_CVR_MSG_COUNT_EXCEEDED};
inline constexpr ErrorEntry kNotABookmark{"Requested Message Number was not a Bookmark", E_CVR_MSG_NOT_BOOKMARK};
inline constexpr ErrorEntry kBookmarkOutOfRange{"BookmarkNo out of range", E_CVR_MSG_COUNT_EXCEEDED};
inline constexpr ErrorEntry kEndOfBookmarks{"End of Bookmark list reached", E_CVR_MSG_COUNT_EXCEEDED};
inline constexpr ErrorEntry kOutOfMemory{"Out of memory", E_OUTOFMEMORY};

}  // namespace errors
}  // namespace corvane

#endif  // CORVANE_FRAME_ERROR_CATALOGUE_H_
