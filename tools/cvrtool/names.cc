#include "names.h"

#include <cstdio>
#include <string_view>

#include "stream/generations.h"

namespace cvrtool {
namespace {

using corvane::stream::Generation;
using corvane::stream::GenerationOf;
using corvane::stream::kGenerations;

bool InTable(int version) { return GenerationOf(version).version == version; }

// kWritableVersionNames lists every short name of the table, each once.
constexpr bool ListsEveryShortName(std::string_view list) {
  size_t listed = 0, named = 0;
  for (const Generation& g : kGenerations) {
    if (g.short_name.empty()) continue;
    ++named;
    for (std::string_view rest = list; !rest.empty();) {
      const size_t comma = rest.find(", ");
      if (rest.substr(0, comma) == g.short_name) ++listed;
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 2);
    }
  }
  return named == listed && list.size() > 0;
}
static_assert(ListsEveryShortName(kWritableVersionNames));

struct IdName {
  unsigned id;
  const char* name;
};
const IdName kBlockIds[] = {
    {0x00, "CVR_ID_FILE_PROGRAM_INFO"},     {0x01, "CVR_ID_FILE_TIME_DATE"},
    {0x02, "CVR_ID_DECODER_IDENTIFIER"},    {0x03, "CVR_ID_OS_TICK_DURATION"},
    {0x06, "CVR_ID_TRACKER_GROUP_INFO"},    {0x10, "CVR_ID_TEST_LOCATION"},
    {0x11, "CVR_ID_TEST_REFERENCE"},        {0x12, "CVR_ID_TEST_GROUP"},
    {0x13, "CVR_ID_TEST_OPERATOR"},         {0x20, "CVR_ID_GPS_POSITION"},
    {0x30, "CVR_ID_MS_TYPE"},               {0x31, "CVR_ID_MS_PRODUCTION_SN"},
    {0x32, "CVR_ID_MS_IMEI_STRING"},        {0x33, "CVR_ID_MS_HW_VERSION_STRING"},
    {0x34, "CVR_ID_MS_MCU_SW_VERSION_STRING"}, {0x35, "CVR_ID_MS_DSP_SW_VERSION_STRING"},
    {0x36, "CVR_ID_MS_PMD_DATA"},           {0x40, "CVR_ID_COMMENT"},
    {0x41, "CVR_ID_MARKER"},                {0x42, "CVR_ID_MARKER_COMMENT"},
    {0x43, "CVR_ID_BOOKMARK"},              {0x50, "CVR_ID_QUIVOX_MSG"},
    {0x51, "CVR_ID_MULTI_QUIVOX_MSG"},
};

}  // namespace

std::string FileVersionName(int version) {
  if (InTable(version)) return std::string(GenerationOf(version).name);
  return "FileVersion" + std::to_string(version);
}

std::string FileVersionDescription(int version) {
  return std::string(GenerationOf(version).description);
}

EnumFileVersion WritableVersionFromName(const std::string& name) {
  for (const Generation& g : kGenerations) {
    if (!g.short_name.empty() && name == g.short_name) return g.version;
  }
  return FileVersionUnknown;
}

std::string WritableVersionShortName(int version) {
  return InTable(version) ? std::string(GenerationOf(version).short_name) : "";
}

const char* BlockIdName(unsigned id) {
  for (const IdName& n : kBlockIds) {
    if (n.id == id) return n.name;
  }
  return "";
}

std::string BlockIdLabel(unsigned id) {
  const char* name = BlockIdName(id);
  if (*name) return name;
  char text[16];
  std::snprintf(text, sizeof text, "0x%04x", id);
  return text;
}

bool HasBlockHeaders(int version) { return BlockHeaderLength(version) != 0; }

int BlockHeaderLength(int version) {
  // Hex text counts characters, not bytes: no file positions to reason about.
  const Generation& g = GenerationOf(version);
  return InTable(version) && g.kind == corvane::stream::FileKind::kLog
             ? static_cast<int>(g.block_header_length)
             : 0;
}

int FileHeaderLength(int version) { return static_cast<int>(GenerationOf(version).header_length); }

bool BulkMessagesPadded(int version) { return GenerationOf(version).padded_messages; }

}  // namespace cvrtool
