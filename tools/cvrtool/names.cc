#include "names.h"

#include <cstdio>

namespace cvrtool {
namespace {

struct VersionInfo {
  const char* name;
  const char* description;
};

const VersionInfo kVersions[] = {
    {"FileVersionUnknown", "unknown format"},
    {"FileVersionCVR_Ve101", "CVR V e1.01, enciphered, big-endian"},
    {"FileVersionCVR_V0100", "CVR V 01.00, plain, big-endian, millisecond stamps"},
    {"FileVersionCVR_Ve100", "CVR V e1.00, enciphered, big-endian, millisecond stamps"},
    {"FileVersionFerrow", "raw message records"},
    {"FileVersionCvrConvHex", "hexadecimal text dump of blocks"},
    {"FileVersionVantrelHex", "hexadecimal text dump of message records"},
    {"FileVersionCVR_Ve102", "CVR V e1.02, enciphered, little-endian"},
    {"FileVersionCVR_V0102", "CVR V 01.02, plain, little-endian"},
    {"FileVersionCVR_Vu102", "CVR V u1.02, plain, big-endian"},
    {"FileVersionIDX_V0102", "index file, little-endian"},
    {"FileVersionIDX_Vu102", "index file, big-endian"},
    {"FileVersionBMK_V0102", "bookmark file, little-endian"},
    {"FileVersionBMK_Ve102", "bookmark file, enciphered"},
    {"FileVersionBMK_Vu102", "bookmark file, big-endian"},
    {"FileVersionINF_V0102", "info-message file, little-endian"},
    {"FileVersionINF_Ve102", "info-message file, enciphered"},
    {"FileVersionINF_Vu102", "info-message file, big-endian"},
};
constexpr int kVersionCount = static_cast<int>(sizeof kVersions / sizeof kVersions[0]);

struct Writable {
  const char* short_name;
  EnumFileVersion version;
};
const Writable kWritable[] = {
    {"1.02", FileVersionCVR_V0102},
    {"u1.02", FileVersionCVR_Vu102},
    {"e1.02", FileVersionCVR_Ve102},
    {"e1.01", FileVersionCVR_Ve101},
};

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
  if (version >= 0 && version < kVersionCount) return kVersions[version].name;
  return "FileVersion" + std::to_string(version);
}

std::string FileVersionDescription(int version) {
  if (version >= 0 && version < kVersionCount) return kVersions[version].description;
  return "unknown format";
}

EnumFileVersion WritableVersionFromName(const std::string& name) {
  for (const Writable& w : kWritable) {
    if (name == w.short_name) return w.version;
  }
  return FileVersionUnknown;
}

std::string WritableVersionShortName(int version) {
  for (const Writable& w : kWritable) {
    if (w.version == version) return w.short_name;
  }
  return "";
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
  switch (version) {
    case FileVersionCVR_Ve101:
    case FileVersionCVR_Ve102:
    case FileVersionCVR_V0102:
    case FileVersionCVR_Vu102:
      return 16;
    case FileVersionCVR_V0100:
    case FileVersionCVR_Ve100:
      return 12;
    default:
      return 0;  // record formats and hex text (whose positions count characters)
  }
}

int FileHeaderLength(int version) {
  switch (version) {
    case FileVersionCVR_Ve101:
    case FileVersionCVR_V0100:
    case FileVersionCVR_Ve100:
      return 60;
    case FileVersionFerrow:
    case FileVersionCvrConvHex:
    case FileVersionVantrelHex:
      return 0;
    default:
      return 128;
  }
}

bool BulkMessagesPadded(int version) {
  return version != FileVersionCVR_Ve102 && version != FileVersionCVR_V0102;
}

}  // namespace cvrtool
