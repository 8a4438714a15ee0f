// The generation table of docs/formats.md says what the code's table says:
// each documented row is the code's row, formatted, in the same order.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "stream/block_header.h"
#include "stream/cipher.h"
#include "stream/cipher_parameters.h"
#include "stream/file_format.h"
#include "stream/generations.h"

extern const char kFormatsMd[];

namespace corvane::stream {
namespace {

std::string Order(ByteOrder o) { return o == ByteOrder::kBig ? "BE" : "LE"; }

std::string Components(uint8_t bits, uint8_t log_file, uint8_t log_file2) {
  std::string out;
  const std::pair<int, const char*> parts[] = {{log_file, "LogFile"}, {log_file2 | kCompanion, "LogFile2"}, {kLegacyRW, "Corvane"}};
  for (auto [mask, name] : parts) out += bits & mask ? (out.empty() ? "" : ", ") + std::string(name) : "";
  return out.empty() ? "—" : out;
}

std::string Row(const Generation& g) {
  static const char* kKinds[] = {"none", "log", "index", "bookmark", "info message", "raw records", "hex text"};
  static const char* kForms[] = {"none", "e1.01", "01.00", "e1.00", "tagged"};
  static const char* kSets[] = {"—", "e1.00", "shared"};
  const bool blocks = g.block_header_length != 0;
  std::string field(g.field.substr(0, g.field.empty() ? 0 : g.field.size() - 1));
  std::ostringstream row;
  row << "| " << g.version << " | " << g.name << " | " << kKinds[static_cast<int>(g.kind)] << " | "
      << kForms[static_cast<int>(g.header)] << " " << g.header_length << " | "
      << (field.empty() ? "—" : "`" + field + "`") << " | " << kSets[static_cast<int>(g.cipher)]
      << " | " << Order(g.numbers) << " | "
      << (blocks ? std::to_string(g.block_header_length) + " " + Order(g.block_order) : "—") << " | "
      << (blocks ? Order(g.count_order) : "—") << " | "
      << (blocks ? (g.padded_messages ? "yes" : "no") : "—") << " | "
      << Components(g.components, kLogFileReads, kLogFile2Reads) << " | "
      << Components(g.components, kLogFileWrites, kLogFile2Writes) << " |";
  return row.str();
}

TEST(FormatsDocTest, GenerationTableMatchesTheCode) {
  const std::string doc = kFormatsMd;
  const size_t begin = doc.find("<!-- generations -->");
  const size_t end = doc.find("<!-- /generations -->");
  ASSERT_TRUE(begin != std::string::npos && end != std::string::npos);
  std::istringstream table(doc.substr(begin, end - begin));
  std::vector<std::string> rows;
  for (std::string line; std::getline(table, line);)
    if (line.rfind("| ", 0) == 0 && line.find("| value |") != 0) rows.push_back(line);
  ASSERT_EQ(rows.size(), std::size(kGenerations));
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i], Row(kGenerations[i]));
}

// The bytes of the hex dump that follows `title` in the document (lines
// "    OFFS  xx xx ..."; the text column is ignored).
std::vector<uint8_t> Example(const std::string& doc, const std::string& title) {
  std::vector<uint8_t> out;
  std::istringstream in(doc.substr(doc.find(title)));
  std::string line;
  while (std::getline(in, line) && line.rfind("    ", 0) != 0) {}
  for (; line.rfind("    ", 0) == 0; std::getline(in, line)) {
    std::istringstream bytes(line.substr(10, 48));
    for (unsigned b; bytes >> std::hex >> b;) out.push_back(static_cast<uint8_t>(b));
  }
  return out;
}

// The worked examples: one block, id 0x40, connection 1, data "abc".
TEST(FormatsDocTest, WorkedExamplesAreWhatTheLibraryWrites) {
  LogBlockHeader h{0x40, 1, 0, 0, 12345678, 3, 0};
  const std::vector<uint8_t> abc = {'a', 'b', 'c'};
  auto file = [&](std::vector<uint8_t> header, int version) {
    std::vector<uint8_t> body(kLongBlockHeaderLength);
    EncodeBlockHeader(version, h, body.data());
    body.insert(body.end(), abc.begin(), abc.end());
    CipherParameters p;
    EXPECT_TRUE(!IsEnciphered(version) || (p.SetUp(version) && EncipherInPlace(p, body.data(), body.size()).ok()));
    header.insert(header.end(), body.begin(), body.end());
    return header;
  };
  const std::string doc = kFormatsMd;
  EXPECT_EQ(Example(doc, "**Value 1**"), file(BuildHeader(1), 1));
  EXPECT_EQ(Example(doc, "**Values 7, 8, 9**"), file(BuildHeader(8), 8));
  auto v0100 = BuildV0100Header();
  std::vector<uint8_t> v2(v0100.begin(), v0100.end());
  v2.resize(v2.size() + kShortBlockHeaderLength);
  EncodeShortBlockHeader({0x40, 1, 12345, 3}, v2.data() + v0100.size());
  v2.insert(v2.end(), abc.begin(), abc.end());
  EXPECT_EQ(Example(doc, "**Value 2**"), v2);
}

}  // namespace
}  // namespace corvane::stream
