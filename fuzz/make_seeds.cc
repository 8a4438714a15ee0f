// Writes the seed corpus of the fuzz targets: a small log of every
// generation in the generation table, written by the library's own writers
// (LogFile2 through cvrtool's writer and index builder, with bulk blocks,
// bookmarks and an index; the Corvane object), samples of the generations
// nobody writes any more made from those, and key files.
//
//   make_seeds OUTPUT_DIR      writes OUTPUT_DIR/<target>/<seed>
//
// Multi-file inputs are joined with the targets' part separator in the
// order the targets split them (harness.h).
#include <filesystem>
#include <map>

#include "cvrtool/indexing.h"
#include "cvrtool/log_writer.h"
#include "harness.h"
#include "stream/cipher.h"
#include "stream/generations.h"
#include "stream/key_source.h"
#include "support/log_bytes.h"
#include "support/temp_dir.h"

namespace {

using namespace corvane;
using namespace corvane::fuzz;
using test::Pattern, test::RawRecord, test::StampedRecord;
namespace fs = std::filesystem;

fs::path g_out; int g_written = 0;

// Writes the seed OUTPUT_DIR/<target>_fuzz/<name>: the parts joined with the
// separator (the inverse of SplitInput).
void Seed(const std::string& target, const std::string& name, std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), kPartSeparator.begin(), kPartSeparator.end()), out.insert(out.end(), part.begin(), part.end());
  const fs::path dir = g_out / (target + "_fuzz");
  fs::create_directories(dir);
  test::WriteFileBytes((dir / name).string(), Bytes(out.begin() + kPartSeparator.size(), out.end())), ++g_written;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A log and the companion files LogFile2 wrote beside it.
struct Written { Bytes log, bookmarks, index; };

// Fourteen blocks through cvrtool's LogFile2 writer (which lays bulk
// messages out as the generation wants them): every fourth a bulk block of
// messages, some bookmark blocks, plain blocks in every stamp mode; then the
// log read back and indexed with a resolution of 3.
Written WriteLog2(const stream::Generation& g) {
  const std::string stem = ScratchPath(std::string(g.short_name)), path = stem + ".cvr";
  cvrtool::LogWriter writer(path, g.version);
  for (int i = 0; i < 14; ++i) {
    std::vector<Bytes> messages;
    for (int m = 0; i % 4 == 2 && m < 2 + i % 3; ++m) messages.push_back(RawRecord(0x1D, 0x10, m % 2 ? 0x7C : 0, Pattern(4 + m * 3, m)));
    const Bytes data = Pattern(i * 5 % 23, static_cast<uint8_t>(i));
    if (!messages.empty()) writer.WriteBulk(3, 1, 1000 * i, messages);
    else if (i % 5 == 3 || i == 1) writer.WriteBookmark("mark " + std::to_string(i));
    else writer.Write(i % 2 ? 0x52 : CVR_ID_QUIVOX_MSG, 3, i % 4, 777 * i, data.data(), data.size());  // 0x52: no kind of its own
  }
  writer.Close();
  auto log = cvrtool::CreateLogFile2(); EnumFileVersion read_as = FileVersionUnknown;
  cvrtool::Check(log->Open(Bstr(path).get(), FileAccessModeReadOnly, &read_as, 0), "reading " + path);
  cvrtool::BuildIndex(log.get(), path, 3, false), (void)log->Close();
  return {test::ReadFileBytes(path), test::ReadFileBytes(stem + ".bmk"), test::ReadFileBytes(stem + ".idx")};
}

// Seven blocks through the Corvane object (V 01.00).
Bytes WriteCorvane() {
  const std::string path = ScratchPath("legacy.cvr");
  auto log = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
  if (!log || FAILED(log->Open(Bstr(path).get(), CVRFileAccessModeWrite, CVRFileCreateModeAlways))) return {};
  for (int i = 0; i < 7; ++i) {
    Bytes data = Pattern(i * 9 % 40 + 1, static_cast<uint8_t>(i));
    (void)log->WriteBlock(static_cast<USHORT>(0x40 + i), static_cast<BYTE>(i), data.data(), data.size() - 1);
  }
  (void)log->Close();
  return test::ReadFileBytes(path);
}

// Lines of a hex dump, "R>" (or "T>" for every second line when `t_lines`)
// and the bytes of one piece each.
Bytes HexDump(const std::vector<Bytes>& pieces, bool t_lines) {
  std::string text;
  for (size_t i = 0; i < pieces.size(); ++i) {
    text += t_lines && i % 2 ? "T>" : "R>";
    for (uint8_t b : pieces[i]) text += {' ', "0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
    text += "\r\n";
  }
  return Text(text);
}

// A key file's line of a set: its name and bytes in `format`.
std::string KeyLine(std::string line, const stream::KeySetBytes& set, const char* format) {
  char buf[8];
  for (uint8_t b : set) line.append(buf, static_cast<size_t>(std::snprintf(buf, sizeof buf, format, b)));
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return std::fprintf(stderr, "usage: make_seeds OUTPUT_DIR\n"), 2;
  g_out = argv[1];
  InitFuzzEnvironment(/*in_memory=*/false);
  cvrtool::InitLibrary();

  // Every log generation of the table: written by LogFile2 or the Corvane
  // object when one of them writes it, else made from the V 01.00 log's
  // blocks (e1.00: enciphered behind an e1.00 title; the converter's hex
  // dump) or from raw records (the records; the analyser's hex dump).
  std::map<EnumFileVersion, Written> gens; std::vector<Bytes> records;
  for (int i = 0; i < 12; ++i) records.push_back(i % 3 == 0 ? StampedRecord(0x80, 1000000 * i - 7000000)
                                 : RawRecord(i % 2 ? 0x1B : 0x1D, i % 2 ? 0x10 : 0xFD, 0x20, Pattern(i * 3, i)));
  std::vector<Bytes> blocks;  // the V 01.00 log's 12-byte headers with their data
  for (const stream::Generation& g : stream::kGenerations) {
    Bytes& log = gens[g.version].log;
    if (g.kind == stream::FileKind::kLog && (g.components & stream::kLogFile2Writes)) gens[g.version] = WriteLog2(g);
    if (g.components & stream::kLegacyRW) log = WriteCorvane();
    for (size_t at = 60, end; g.version == FileVersionCVR_V0100 && at + 12 <= log.size(); at = end) {
      end = std::min(log.size(), at + 12 + DecodeBE32(log.data() + at + 8));
      blocks.emplace_back(log.begin() + at, log.begin() + end);
    }
    if (g.version == FileVersionCVR_Ve100) {
      log = gens[FileVersionCVR_V0100].log;
      std::memcpy(log.data(), "KRV Binary Log File V e1.00", 27);
      auto p = stream::ParametersFromKey(stream::DefaultKeyMaterial().sets[0]);
      (void)stream::EncipherInPlace(p, log.data() + 60, log.size() - 60);
    }
    if (g.kind == stream::FileKind::kRawMessages) for (const Bytes& r : records) log.insert(log.end(), r.begin(), r.end());
    if (g.kind == stream::FileKind::kHexText) log = HexDump(g.block_header_length ? blocks : records, !g.block_header_length);
    if (log.empty()) gens.erase(g.version);
  }
  for (const auto& [version, w] : gens) {
    const std::string name(stream::kGenerations[version].name.substr(11));
    for (const char* t : {"version_detection", "log_file_stream", "log_file2"}) Seed(t, name, {w.log});
    Seed("index_pass", name, {w.log, {2, 7}});
    if (stream::Handles(version, stream::kLogFileReads)) Seed("log_file", name, {w.log});
    if (stream::GenerationOf(version).kind == stream::FileKind::kHexText) Seed("hex_text", name, {w.log});
    if (w.index.empty()) continue;
    Seed("log_file2", name + "_with_bookmarks", {w.log, w.bookmarks});
    Seed("log_file2", name + "_steps", {w.log, w.bookmarks, {0, 40, 1, 0, 7, 3, 5, 4, 'a', 'b', 0, 9, 1, 2, 5, 6, 3, 0}});
    Seed("index_jump", name, {w.log, w.index, w.bookmarks});
    Seed("index_jump", name + "_steps", {w.log, w.index, w.bookmarks, {5, 0, 0, 0, 3, 11, 0, 0, 0, 2}});
    Seed("bookmark_store", name, {w.bookmarks});
    Seed("bookmark_store", name + "_steps", {w.bookmarks, {1, 5, 0, 0, 0, 0, 0, 0, 0, 3, 'x', 'y', 'z', 0, 2, 1, 0, 4, 2, 'q', 1, 5, 2}});
    for (const char* t : {"log_file_stream", "version_detection"})
      for (const auto& [suffix, part] : {std::pair{"_index", &w.index}, {"_bookmarks", &w.bookmarks}}) Seed(t, name + suffix, {*part});
  }
  const Bytes& v0100 = gens[FileVersionCVR_V0100].log;
  Seed("log_file", "CVR_V0100_mixed_reads", {v0100, {1, 2, 3, 4, 5, 6, 7, 8, 9}});
  Seed("corvane", "CVR_V0100", {v0100});
  Seed("corvane", "CVR_V0100_mixed_reads", {v0100, {0, 1, 2, 0, 1, 2}});
  Seed("hex_text", "odd_runs", {Text("1B10 A fz 0x1f\n7")});
  for (int i = 0; i < 4; ++i) Seed("raw_record", "record" + std::to_string(i), {(records[i].resize(20), records[i])});
  Seed("log_file_stream", "e102_steps", {gens[FileVersionCVR_Ve102].log,
       {0, 200, 0, 0, 0, 3, 40, 0, 1, 0xF0, 0xFF, 0xFF, 0xFF, 3, 9, 0, 4, 2, 0, 0, 0, 0, 3, 1, 0}});

  // Cipher: [set] [14 parameter bytes] [header] (harness: targets.cc).
  // Set 0 (shared) with the 1.02 header, set 0 with the e1.01 header, set 1
  // (e1.00) with its 60-byte header, set 2 from small blocks.
  Seed("cipher", "e102", {gens[FileVersionCVR_Ve102].log, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}});
  Seed("cipher", "e101", {gens[FileVersionCVR_Ve101].log, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}});
  Seed("cipher", "e100", {gens[FileVersionCVR_Ve100].log, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}});
  Seed("cipher", "small_blocks", {Pattern(300, 9), {2, 0x11, 0x22, 1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 3, 0}});

  const auto& keys = stream::DefaultKeyMaterial();
  const std::string e100 = KeyLine("e1.00", keys.sets[0], " %u"), shared = KeyLine("shared", keys.sets[1], " 0x%02X");
  const std::pair<const char*, std::string> key_files[] = {
      {"defaults", "corvane-key-file 1\n" + e100 + "\n" + shared + "\n"},
      {"comments_crlf", "# key of the test bench\r\n\r\ncorvane-key-file 1\r\n  " + shared + "\t\r\n# e1.00\r\n" + e100 + "\r\n"},
      {"small_blocks", "corvane-key-file 1\ne1.00 1 2 3 1 1 1 1 1 1 1 1 1 1 2\nshared 0xff 0 9 1 2 3 4 5 6 7 1 2 3 8\n"},
      {"bad_tap", "corvane-key-file 1\ne1.00 1 2 3 1 1 1 1 1 1 1 1 1 9 8\n"}};
  for (const auto& [name, text] : key_files) Seed("key_file", name, {Text(text)});
  std::printf("make_seeds: %d seeds in %s\n", g_written, g_out.c_str());
  return 0;
}
