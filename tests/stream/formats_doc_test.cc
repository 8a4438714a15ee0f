// The generation table of docs/formats.md says what the code's table says:
// each documented row is the code's row, formatted, in the same order.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "stream/generations.h"

extern const char kFormatsMd[];

namespace corvane::stream {
namespace {

std::string Order(ByteOrder o) { return o == ByteOrder::kBig ? "BE" : "LE"; }

std::string Components(uint8_t bits, uint8_t log_file, uint8_t log_file2) {
  std::string out;
  auto add = [&](bool on, const char* name) {
    if (on) out += (out.empty() ? "" : ", ") + std::string(name);
  };
  add(bits & log_file, "LogFile");
  add(bits & (log_file2 | kCompanion), "LogFile2");
  add(bits & kLegacyRW, "Corvane");
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
  ASSERT_NE(begin, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  std::istringstream table(doc.substr(begin, end - begin));
  std::vector<std::string> rows;
  for (std::string line; std::getline(table, line);) {
    if (line.rfind("| ", 0) == 0 && line.find("| value |") != 0) rows.push_back(line);
  }
  ASSERT_EQ(rows.size(), std::size(kGenerations));
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i], Row(kGenerations[i]));
}

}  // namespace
}  // namespace corvane::stream
