#include "stream/file_format.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace corvane::stream {
namespace {

// The order matters: "V 01.00" before any 1.02 tag, the e1.00/e1.01 tags
// before the longer 1.02 tags that end in the same letters. The first
// kReducedCount rules are the LogFile component's reduced set.
constexpr TagRule kTags[] = {
    {"V 01.00", FileVersionCVR_V0100},     {"V e1.00", FileVersionCVR_Ve100},
    {"V E1.00", FileVersionCVR_Ve100},     {"V e1.01", FileVersionCVR_Ve101},
    {"V E1.01", FileVersionCVR_Ve101},     {"CVR V e1.02", FileVersionCVR_Ve102},
    {"CVR V E1.02", FileVersionCVR_Ve102}, {"CVR V 01.02", FileVersionCVR_V0102},
    {"CVR V u1.02", FileVersionCVR_Vu102}, {"IDX V 01.02", FileVersionIDX_V0102},
    {"IDX V u1.02", FileVersionIDX_Vu102}, {"BMK V e1.02", FileVersionBMK_Ve102},
    {"BMK V E1.02", FileVersionBMK_Ve102}, {"BMK V 01.02", FileVersionBMK_V0102},
    {"BMK V u1.02", FileVersionBMK_Vu102}, {"INF V e1.02", FileVersionINF_Ve102},
    {"INF V E1.02", FileVersionINF_Ve102}, {"INF V 01.02", FileVersionINF_V0102},
    {"INF V u1.02", FileVersionINF_Vu102},
};
constexpr size_t kReducedCount = 5;

std::string_view BannerFor(FileKind kind) {
  switch (kind) {
    case FileKind::kLog: return "Binary Log File\n";
    case FileKind::kIndex: return "Binary Log Index File\n";
    case FileKind::kBookmark: return "Binary Log Bookmark File\n";
    case FileKind::kInfoMessage: return "Binary Log InfoMsg File\n";
    default: return {};
  }
}

void Put(uint8_t* out, uint32_t offset, std::string_view text) {
  std::memcpy(out + offset, text.data(), text.size());
}

bool IsSpace(uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

std::array<uint8_t, kHeaderLength101> BuildE101Header(E101Form form) {
  std::array<uint8_t, kHeaderLength101> h{};
  Put(h.data(), 0, kTitle101);
  h[27] = '\n';
  std::string_view notice = form == E101Form::kStream ? kNotice101Stream : kNotice101LogFile;
  Put(h.data(), 28, notice);
  h[28 + notice.size()] = '\n';
  h[59] = kHeaderEnd;
  return h;
}

std::array<uint8_t, kHeaderLength101> BuildV0100Header() {
  std::array<uint8_t, kHeaderLength101> h{};
  static_assert(kTitle100.size() == 27 && kNotice100.size() == 28);
  Put(h.data(), 0, kTitle100);
  Put(h.data(), 27, "\n\r");
  Put(h.data(), 29, kNotice100);
  Put(h.data(), 57, "\n\r");
  h[59] = kHeaderEnd;
  return h;
}

std::vector<uint8_t> BuildHeader(int version) {
  const Generation& g = GenerationOf(version);
  if (version != g.version || !Handles(version, kStreamWrites)) return {};
  if (g.header == HeaderForm::kE101) {
    auto h = BuildE101Header(E101Form::kStream);
    return std::vector<uint8_t>(h.begin(), h.end());
  }
  std::vector<uint8_t> h(kHeaderLength102, 0);
  Put(h.data(), kMakerOffset, kMakerLine);
  Put(h.data(), kBannerOffset, BannerFor(g.kind));
  Put(h.data(), kVersionFieldOffset, g.field);
  Put(h.data(), kNoticeOffset, kNotice102);
  h[kHeaderLength102 - 1] = kHeaderEnd;
  return h;
}

std::span<const TagRule> FullTagSet() { return kTags; }
std::span<const TagRule> ReducedTagSet() { return std::span<const TagRule>(kTags, kReducedCount); }

EnumFileVersion MatchTags(std::string_view text, std::span<const TagRule> tags) {
  for (const TagRule& rule : tags) {
    if (text.find(rule.tag) != std::string_view::npos) return rule.version;
  }
  return FileVersionUnknown;
}

int32_t ParseIndexSubVersion(std::string_view text) {
  if (text.size() <= kIndexSubVersionOffset) return 0;
  for (uint32_t i = kVersionFieldOffset; i < kIndexSubVersionOffset; ++i) {
    if (text[i] == '\0') return 0;
  }
  size_t i = kIndexSubVersionOffset;
  auto at = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  while (i < text.size() && IsSpace(at(i))) ++i;
  bool negative = false;
  if (i < text.size() && (at(i) == '+' || at(i) == '-')) negative = at(i++) == '-';
  int64_t value = 0;
  // Clamped instead of overflowing: a damaged header must not be undefined.
  for (; i < text.size() && at(i) >= '0' && at(i) <= '9'; ++i) {
    value = std::min<int64_t>(value * 10 + (at(i) - '0'), int64_t{INT32_MAX} + 1);
  }
  if (negative) value = -value;
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

bool IsHexDigit(uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

EnumFileVersion ClassifyHexDump(std::string_view text) {
  auto ch = [&](size_t n) -> uint8_t { return n < text.size() ? text[n] : 0; };
  bool dump = ch(0) == '<' || (ch(0) == '>' && ch(1) == '<') ||
              (ch(1) == '>' && ch(2) == ' ' && IsHexDigit(ch(3)) && IsHexDigit(ch(4)));
  if (!dump) return FileVersionUnknown;
  return ch(3) == '0' && ch(4) == '0' ? FileVersionCvrConvHex : FileVersionVantrelHex;
}

bool IsFerrowHead(const uint8_t head[kFerrowHeadLength]) {
  bool media = head[0] == 0x1D || head[0] == 0x1B || head[0] == 0x10;
  bool receiver = head[1] == 0x10 || head[1] == 0xFD;
  return media && receiver;
}

}  // namespace corvane::stream
