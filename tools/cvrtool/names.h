// Names of the library's enumerations as the tool shows and accepts them.
#ifndef CVRTOOL_NAMES_H_
#define CVRTOOL_NAMES_H_

#include <corvane/corvane.h>

#include <string>

namespace cvrtool {

// "FileVersionCVR_V0102"; "FileVersion<n>" for values outside the enumeration.
std::string FileVersionName(int version);
// A short description: "CVR V 01.02, plain, little-endian".
std::string FileVersionDescription(int version);
// The generations that LogFile2 writes, by the short names of --to/--format
// ("1.02", "u1.02", "e1.02", "e1.01"); FileVersionUnknown for any other text.
EnumFileVersion WritableVersionFromName(const std::string& name);
std::string WritableVersionShortName(int version);
// The short names in the order --to/--format lists them.
constexpr const char* kWritableVersionNames = "1.02, u1.02, e1.02, e1.01";

// "CVR_ID_QUIVOX_MSG"; empty for identifiers the enumeration does not name.
const char* BlockIdName(unsigned id);
// The name, or "0x0044" for an unnamed identifier.
std::string BlockIdLabel(unsigned id);

// Generations whose blocks carry headers in the file (and so whose records
// have file positions the tool can reason about): 1, 2, 3, 7, 8, 9.
bool HasBlockHeaders(int version);
// Length of a block header in the file (16 or 12), 0 for record formats.
int BlockHeaderLength(int version);
// Length of the file header in front of the first block.
int FileHeaderLength(int version);
// Messages inside bulk blocks occupy a multiple of 4 bytes except in the
// little-endian 1.02 generations (7 and 8).
bool BulkMessagesPadded(int version);

}  // namespace cvrtool

#endif  // CVRTOOL_NAMES_H_
