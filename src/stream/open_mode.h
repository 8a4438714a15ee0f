// The one mapping of the components' open modes to access, sharing and
// disposition. LogFile and the Corvane object use their files exclusively;
// LogFile2 lets others read its log while it is open.
//
// Pure functions: safe from any thread.
#ifndef CORVANE_STREAM_OPEN_MODE_H_
#define CORVANE_STREAM_OPEN_MODE_H_

#include <corvane/corvane.h>

#include "platform/file.h"

namespace corvane::stream {

// Options from a read flag and a disposition (callers have checked that
// their mode values are valid).
inline platform::OpenOptions OpenOptionsFor(bool writing, platform::Disposition disposition,
                                            uint32_t share) {
  platform::OpenOptions options;
  options.access = writing ? platform::kAccessWrite : platform::kAccessRead;
  options.share = share;
  options.disposition = disposition;
  return options;
}

// EnumFileAccessMode of LogFile and LogFile2: read-only opens an existing
// file; the two write modes create a new file or replace one.
inline platform::OpenOptions OpenOptionsFor(EnumFileAccessMode mode, uint32_t share) {
  using platform::Disposition;
  return OpenOptionsFor(mode != FileAccessModeReadOnly,
                        mode == FileAccessModeWriteCreateNew      ? Disposition::kCreateNew
                        : mode == FileAccessModeWriteCreateAlways ? Disposition::kCreateAlways
                                                                  : Disposition::kOpenExisting,
                        share);
}

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_OPEN_MODE_H_
