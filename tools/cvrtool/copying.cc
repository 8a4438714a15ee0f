#include "copying.h"

#include <filesystem>
#include <string>
#include <utility>

#include "com.h"
#include "names.h"

namespace cvrtool {

namespace fs = std::filesystem;

void CheckDistinct(const std::string& in, const std::string& out) {
  std::error_code ec;
  if (fs::exists(out, ec) && fs::equivalent(in, out, ec)) {
    throw UsageError("IN and OUT are the same file");
  }
  const fs::path a = fs::weakly_canonical(fs::path(in), ec);
  const fs::path b = fs::weakly_canonical(fs::path(out), ec);
  if (a.parent_path() == b.parent_path() && a.stem() == b.stem()) {
    throw UsageError("IN and OUT differ only in their extension and would share their .idx and "
                     ".bmk files; choose another name for OUT");
  }
}

EnumFileVersion VersionOption(const Args& args, EnumFileVersion fallback) {
  if (!args.Has("to")) return fallback;
  const EnumFileVersion version = WritableVersionFromName(args.Value("to", ""));
  if (version == FileVersionUnknown) {
    throw UsageError("--to must be one of " + std::string(kWritableVersionNames) + ", not '" +
                     args.Value("to", "") + "'");
  }
  return version;
}

void RecordCopier::Flush() {
  if (messages_.empty()) return;
  out_->WriteBulk(0xFF, mode_, stamp_, messages_);
  ++bulk_blocks_;
  messages_.clear();
}

void RecordCopier::Add(Record& r, int group) {
  const LogBlockHeader& h = r.header;
  // Modes 2 and 3 would make the writer take a new stamp.
  const uint8_t mode = (h.byTimeStampMode == 2 || h.byTimeStampMode == 3) ? 1 : h.byTimeStampMode;
  const bool in_bulk = regroup_ && (r.bulk == BulkRole::kFirst || r.bulk == BulkRole::kNext);
  if (!in_bulk || r.bulk == BulkRole::kFirst || r.is_bookmark || group != group_) Flush();
  group_ = group;
  if (r.is_bookmark) {
    out_->WriteBookmark(std::string(r.data.begin(), r.data.end()));
  } else if (in_bulk) {
    if (messages_.empty()) mode_ = mode, stamp_ = h.qwTimeStamp;
    messages_.push_back(std::move(r.data));
  } else {
    out_->Write(h.wBlockID, h.byConnID, mode, h.qwTimeStamp, r.data.data(),
                static_cast<uint32_t>(r.data.size()));
  }
}

}  // namespace cvrtool
