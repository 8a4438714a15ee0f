// Writes the seed corpus of the fuzz targets: small logs of every writable
// generation made by the library's own writers (with bulk blocks, bookmarks
// and an index), samples of the formats nobody writes any more crafted
// byte by byte, and key files.
//
//   make_seeds OUTPUT_DIR      writes OUTPUT_DIR/<target>/<seed>
//
// Multi-file inputs are joined with the targets' part separator in the
// order the targets split them (harness.h).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "support/log_bytes.h"
#include "stream/cipher.h"
#include "stream/key_source.h"

namespace fs = std::filesystem;
using corvane::fuzz::CreateObject;
using corvane::fuzz::JoinParts;
using corvane::fuzz::Owned;
using corvane::fuzz::OwnedBstr;
using corvane::test::Bytes;
using corvane::test::Pattern;
using corvane::test::PutBE;
using corvane::test::StampedRecord;

namespace {

fs::path g_out;
int g_written = 0;

void Seed(const std::string& target, const std::string& name, const Bytes& bytes) {
  fs::create_directories(g_out / target);
  std::ofstream out(g_out / target / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ++g_written;
}

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Record(uint8_t media, uint8_t receiver, uint8_t resource, const Bytes& payload) {
  return corvane::test::RawRecord(media, receiver, resource, payload);
}
LogBlockHeader Header(uint16_t id, uint8_t mode, uint64_t stamp) { return corvane::test::MakeHeader(id, 3, mode, stamp, 0); }

// A 12-byte big-endian block header of the oldest generations and its data.
void PutBlock12(Bytes& b, uint16_t id, uint8_t conn, uint32_t tick, const Bytes& data) {
  PutBE(b, id, 2);
  b.insert(b.end(), {conn, 0});
  PutBE(b, tick, 4);
  PutBE(b, data.size(), 4);
  b.insert(b.end(), data.begin(), data.end());
}

// ---- Logs written through the library. ----

struct Written {
  std::string name;
  Bytes log, bookmarks, index;
};

Bytes BulkData(bool padded, int messages) {
  Bytes data;
  for (int i = 0; i < messages; ++i) {
    size_t payload = 4 + i * 3;
    if (padded) payload = (payload + 6 + 3) / 4 * 4 - 6;
    Bytes m = Record(0x1D, 0x10, i % 2 ? 0x7C : 0, Pattern(payload, static_cast<uint8_t>(i)));
    data.insert(data.end(), m.begin(), m.end());
  }
  return data;
}

void WaitForIndex(ILogFile2* log, const std::string& idx) {
  for (int i = 0; i < 500; ++i) {
    LONGLONG count = 0;
    (void)log->GetIndexedRecCount(&count);
    // The record count, in either byte order, is written when the pass completes.
    Bytes bytes = ReadAll(idx);
    if (bytes.size() >= 144 && std::any_of(bytes.begin() + 136, bytes.begin() + 144, [](uint8_t b) { return b; })) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::fprintf(stderr, "make_seeds: the index of %s did not complete\n", idx.c_str());
}

Written WriteLog2(EnumFileVersion version, const std::string& name, int blocks) {
  const std::string stem = corvane::fuzz::ScratchPath(name);
  const std::string path = stem + ".cvr";
  Written w{name, {}, {}, {}};
  Owned<ILogFile2> log;
  CreateObject(CLSID_LogFile2, IID_ILogFile2, &log);
  OwnedBstr bname(path);
  EnumFileVersion v = version;
  if (!log.get() || FAILED(log->Open(bname.get(), FileAccessModeWriteCreateAlways, &v, 0))) {
    std::fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
    return w;
  }
  const bool padded = version != FileVersionCVR_Ve102 && version != FileVersionCVR_V0102;
  for (int i = 0; i < blocks; ++i) {
    // Every fourth block a bulk block, some bookmark blocks, plain blocks in
    // every stamp mode.
    const ULONG count = i % 4 == 2 ? 2 + i % 3 : 0;
    Bytes data = count ? BulkData(padded, static_cast<int>(count))
                 : i % 5 == 3 ? Text("mark " + std::to_string(i)) : Pattern(i * 5 % 23, static_cast<uint8_t>(i));
    LogBlockHeader h = count       ? Header(CVR_ID_MULTI_QUIVOX_MSG, 1, 1000 * i)
                       : i % 5 == 3 ? Header(CVR_ID_BOOKMARK, 0, 0)
                                    : Header(static_cast<uint16_t>(CVR_ID_QUIVOX_MSG + i % 3), i % 4, 777 * i);
    h.dwDataLength = static_cast<ULONG>(data.size());
    data.push_back(0);  // bookmark comments end at a zero; no buffer is empty
    (void)log->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, data.data(), h.dwDataLength, count);
  }
  OwnedBstr comment("inserted");
  (void)log->InsertBookmark(1, comment.get());
  (void)log->Close();

  // Read back once and index it with a resolution of 3.
  EnumFileVersion read_as = FileVersionUnknown;
  if (SUCCEEDED(log->Open(bname.get(), FileAccessModeReadOnly, &read_as, 0))) {
    if (SUCCEEDED(log->CreateIndex(3))) WaitForIndex(log.get(), stem + ".idx");
    (void)log->Close();
  }
  w.log = ReadAll(path);
  w.bookmarks = ReadAll(stem + ".bmk");
  w.index = ReadAll(stem + ".idx");
  return w;
}

Bytes WriteLogFileE101() {
  const std::string path = corvane::fuzz::ScratchPath("logfile.log");
  Owned<ILogFile> log;
  CreateObject(CLSID_LogFile, IID_ILogFile, &log);
  OwnedBstr name(path);
  EnumFileVersion v = FileVersionCVR_Ve101;
  if (!log.get() || FAILED(log->Open(name.get(), FileAccessModeWriteCreateAlways, &v))) return {};
  for (int i = 0; i < 9; ++i) {
    Bytes data = Pattern(i * 11 % 70, static_cast<uint8_t>(i));
    data.push_back(0);
    LogBlockHeader h = Header(static_cast<uint16_t>(i), i % 3, 5000 * i);
    h.dwDataLength = static_cast<ULONG>(data.size() - 1);
    (void)log->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, data.data(), h.dwDataLength);
  }
  (void)log->Close();
  return ReadAll(path);
}

Bytes WriteCorvane() {
  const std::string path = corvane::fuzz::ScratchPath("legacy.cvr");
  Owned<ICorvane> log;
  CreateObject(CLSID_Corvane, IID_ICorvane, &log);
  OwnedBstr name(path);
  if (!log.get() || FAILED(log->Open(name.get(), CVRFileAccessModeWrite, CVRFileCreateModeAlways))) return {};
  for (int i = 0; i < 7; ++i) {
    Bytes data = Pattern(i * 9 % 40, static_cast<uint8_t>(i));
    data.push_back(0);
    (void)log->WriteBlock(static_cast<USHORT>(0x40 + i), static_cast<BYTE>(i), data.data(),
                          static_cast<ULONG>(data.size() - 1));
  }
  (void)log->Close();
  return ReadAll(path);
}

// ---- Crafted samples. ----

// e1.00: a 60-byte header with its tag, then 12-byte big-endian block
// headers and data enciphered with the e1.00 set.
Bytes CraftE100() {
  Bytes header(60, 0);
  const std::string title = "KRV Binary Log File V e1.00\ncrafted";
  std::copy(title.begin(), title.end(), header.begin());
  header[59] = 0x1A;
  Bytes body;
  for (int i = 0; i < 6; ++i) PutBlock12(body, 0x50 + i, i, 100 * i, Pattern(i * 13 % 50, i));
  auto p = corvane::stream::ParametersFromKey(corvane::stream::DefaultKeyMaterial().sets[0]);
  (void)corvane::stream::EncipherInPlace(p, body.data(), body.size());
  header.insert(header.end(), body.begin(), body.end());
  return header;
}

Bytes CraftRawRecords() {
  Bytes file;
  for (int i = 0; i < 12; ++i) {
    Bytes r = i % 3 == 0 ? StampedRecord(0x80, 1000000 * i + 7)
                         : Record(i % 2 ? 0x1B : 0x1D, i % 2 ? 0x10 : 0xFD, 0x20, Pattern(i * 3, static_cast<uint8_t>(i)));
    file.insert(file.end(), r.begin(), r.end());
  }
  return file;
}

// The two hex dumps: the converter's "R>" lines of 12-byte headers and data
// (the first block id 0x0050 starts with "00": this dump), and the analyser's
// raw records as "R>" and "T>" lines.
Bytes CraftHex(bool converter) {
  std::string text;
  for (int i = 0; i < 6; ++i) {
    Bytes bytes;
    if (converter) {
      PutBlock12(bytes, 0x0050 + i, i, 10 * i, Pattern(i * 4, i));
    } else {
      bytes = i % 2 ? StampedRecord(0x80, 4242 * i) : Record(0x10, 0xFD, 0x01, Pattern(i + 2, static_cast<uint8_t>(i)));
    }
    text += i % 2 && !converter ? "T>" : "R>";
    for (uint8_t b : bytes) text += {' ', "0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
    text += "\r\n";
  }
  return Text(text);
}

std::string KeyLine(const char* name, const corvane::stream::KeySetBytes& set, bool hex) {
  std::string line = name;
  for (uint8_t b : set) {
    char buf[8];
    std::snprintf(buf, sizeof buf, hex ? " 0x%02X" : " %u", b);
    line += buf;
  }
  return line;
}

void KeySeeds() {
  const auto& keys = corvane::stream::DefaultKeyMaterial();
  const std::string e100 = KeyLine("e1.00", keys.sets[0], false);
  const std::string shared = KeyLine("shared", keys.sets[1], true);
  Seed("key_file_fuzz", "defaults", Text("corvane-key-file 1\n" + e100 + "\n" + shared + "\n"));
  Seed("key_file_fuzz", "comments_crlf",
       Text("# key of the test bench\r\n\r\ncorvane-key-file 1\r\n  " + shared + "\t\r\n# e1.00\r\n" + e100 + "\r\n"));
  Seed("key_file_fuzz", "small_blocks",
       Text("corvane-key-file 1\ne1.00 1 2 3 1 1 1 1 1 1 1 1 1 1 2\nshared 0xff 0 9 1 2 3 4 5 6 7 1 2 3 8\n"));
  Seed("key_file_fuzz", "bad_tap", Text("corvane-key-file 1\ne1.00 1 2 3 1 1 1 1 1 1 1 1 1 9 8\n"));
}

void CipherSeeds(const std::map<std::string, Bytes>& logs) {
  // Set 0 (shared) with the 1.02 header, set 0 with the e1.01 header, set 1
  // (e1.00) with the e1.01-sized header.
  Bytes shared_128{0}, shared_60{0}, e100_60{1};
  shared_128.resize(15, 0), shared_60.resize(15, 0), e100_60.resize(15, 0);
  shared_128.push_back(2), shared_60.push_back(1), e100_60.push_back(1);
  Seed("cipher_fuzz", "e102", JoinParts({logs.at("e102"), shared_128}));
  Seed("cipher_fuzz", "e101", JoinParts({logs.at("e101_logfile"), shared_60}));
  Seed("cipher_fuzz", "e100", JoinParts({logs.at("e100"), e100_60}));
  Bytes small_blocks{2, 0x11, 0x22, 1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 3, 0};
  Seed("cipher_fuzz", "small_blocks", JoinParts({Pattern(300, 9), small_blocks}));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds OUTPUT_DIR\n");
    return 2;
  }
  g_out = argv[1];
  corvane::fuzz::InitFuzzEnvironment(/*in_memory=*/false);

  std::vector<Written> gens = {
      WriteLog2(FileVersionCVR_V0102, "plain", 14), WriteLog2(FileVersionCVR_Ve102, "e102", 14),
      WriteLog2(FileVersionCVR_Vu102, "u102", 14), WriteLog2(FileVersionCVR_Ve101, "e101", 10)};
  std::map<std::string, Bytes> logs;
  for (const Written& w : gens) logs[w.name] = w.log;
  logs["e101_logfile"] = WriteLogFileE101();
  logs["v0100"] = WriteCorvane();
  logs["e100"] = CraftE100();
  logs["raw"] = CraftRawRecords();
  logs["hex_converter"] = CraftHex(true);
  logs["hex_analyser"] = CraftHex(false);

  for (const auto& [name, log] : logs) {
    for (const char* t : {"version_detection_fuzz", "log_file_stream_fuzz", "log_file2_fuzz"}) Seed(t, name, log);
  }
  for (const char* name : {"e101_logfile", "v0100", "e100", "raw", "hex_converter", "hex_analyser"}) {
    Seed("log_file_fuzz", name, logs.at(name));
  }
  Seed("log_file_fuzz", "v0100_mixed_reads", JoinParts({logs.at("v0100"), {1, 2, 3, 4, 5, 6, 7, 8, 9}}));
  Seed("corvane_fuzz", "v0100", logs.at("v0100"));
  Seed("corvane_fuzz", "v0100_mixed_reads", JoinParts({logs.at("v0100"), {0, 1, 2, 0, 1, 2}}));
  Seed("hex_text_fuzz", "converter", logs.at("hex_converter"));
  Seed("hex_text_fuzz", "analyser", logs.at("hex_analyser"));
  Seed("hex_text_fuzz", "odd_runs", Text("1B10 A fz 0x1f\n7"));
  for (int i = 0; i < 4; ++i) {
    Bytes r = i % 2 ? StampedRecord(0x80, -12345678 * i) : Record(0x10, 0xFD, 0x7C, Pattern(16, 3));
    r.resize(20, 0);
    Seed("raw_record_fuzz", "record" + std::to_string(i), r);
  }
  for (const Written& w : gens) {
    Seed("log_file2_fuzz", w.name + "_with_bookmarks", JoinParts({w.log, w.bookmarks}));
    Seed("log_file2_fuzz", w.name + "_steps",
         JoinParts({w.log, w.bookmarks, {0, 40, 1, 0, 7, 3, 5, 4, 'a', 'b', 0, 9, 1, 2, 5, 6, 3, 0}}));
    Seed("index_jump_fuzz", w.name, JoinParts({w.log, w.index, w.bookmarks}));
    Seed("index_jump_fuzz", w.name + "_steps", JoinParts({w.log, w.index, w.bookmarks, {5, 0, 0, 0, 3, 11, 0, 0, 0, 2}}));
    Seed("bookmark_store_fuzz", w.name, w.bookmarks);
    Seed("bookmark_store_fuzz", w.name + "_steps", JoinParts({w.bookmarks, {1, 5, 0, 0, 0, 0, 0, 0, 0, 3, 'x', 'y', 'z', 0, 2, 1, 0, 4, 2, 'q', 1, 5, 2}}));
    for (const char* t : {"log_file_stream_fuzz", "version_detection_fuzz"}) {
      Seed(t, w.name + "_index", w.index);
      Seed(t, w.name + "_bookmarks", w.bookmarks);
    }
  }
  Seed("log_file_stream_fuzz", "e102_steps",
       JoinParts({logs.at("e102"), {0, 200, 0, 0, 0, 3, 40, 0, 1, 0xF0, 0xFF, 0xFF, 0xFF, 3, 9, 0, 4, 2, 0, 0, 0, 0, 3, 1, 0}}));
  CipherSeeds(logs);
  KeySeeds();
  std::printf("make_seeds: %d seeds in %s\n", g_written, g_out.c_str());
  return 0;
}
