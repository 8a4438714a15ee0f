// cvrtool on real logs: the demo recorder, info, dump, verify on damaged
// files, convert between every pair of writable generations, bookmarks, and
// indexing with jumps.
#include <set>

#include "support/com_test_util.h"
#include "tools/cvrtool_fixture.h"

namespace corvane::test {
namespace {

const char* const kFormats[] = {"1.02", "u1.02", "e1.02", "e1.01"};

// A dump line without the fields that legitimately differ between two
// copies of a log: the file offset, and the stamp mode (a recorder's 2 and 3
// are written back as 1, "stamp given").
std::string Comparable(std::string line) {
  for (const char* key : {"\"offset\":", "\"mode\":"}) {
    const size_t at = line.find(key);
    if (at == std::string::npos) continue;
    const size_t end = line.find_first_of(",}", at);
    const std::string value = line.substr(at + std::string(key).size(), end - at - std::string(key).size());
    line.replace(at, end - at, std::string(key) + (value == "2" || value == "3" ? "1" : value));
    if (std::string(key) == "\"offset\":") line.erase(at, end - at + 1);
  }
  return line;
}

// A message of a bulk block carries padding up to a multiple of 4 in some
// generations: compare only the bytes its head announces.
std::string TrimmedData(const std::string& line) {
  std::string data = JsonField(line, "data");
  if (JsonField(line, "kind").rfind("bulk", 0) != 0 || data.size() < 12) return data;
  const size_t length = 6 + std::stoul(data.substr(8, 4), nullptr, 16);
  return data.substr(0, 2 * length);
}

using CvrtoolLogTest = CvrtoolTest;

TEST_F(CvrtoolLogTest, DemoLogHoldsEveryKindOfBlockInEveryFormat) {
  for (const char* format : kFormats) {
    SCOPED_TRACE(format);
    const std::string log = Record(std::string("demo-") + format + ".cvr", 400, format);
    const ToolRun info = Run({"info", log, "--json"});
    ASSERT_EQ(info.exit_code, kExitOk) << info.err;
    const std::string j = info.out;
    EXPECT_EQ(JsonInt(j, "messages"), 400);
    EXPECT_EQ(JsonInt(j, "bookmarks"), 3);  // about every quarter
    EXPECT_GT(JsonInt(j, "bulk_blocks"), 10);
    EXPECT_EQ(JsonInt(j, "blocks") - JsonInt(j, "bulk_blocks") + JsonInt(j, "bulk_messages"), 400);
    EXPECT_EQ(JsonField(j, "index"), "{\"present\":false,\"resolution\":0,\"records\":0}");

    const auto lines = DumpJson(log, {"--data", "hex"});
    ASSERT_EQ(lines.size(), 403u);
    std::set<long long> ids, conns;
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::string& l = lines[i];
      EXPECT_EQ(JsonInt(l, "msg"), static_cast<long long>(i));
      ids.insert(JsonInt(l, "id"));
      conns.insert(JsonInt(l, "conn"));
      if (JsonInt(l, "id") == 0x50) {
        // media 0x1D, receiver 0x10, then sender, resource, length
        EXPECT_EQ(JsonField(l, "data").substr(0, 4), "1d10") << l;
        const size_t announced = 6 + std::stoul(JsonField(l, "data").substr(8, 4), nullptr, 16);
        EXPECT_EQ(TrimmedData(l).size(), 2 * announced);
      }
      if (JsonField(l, "kind") == "bulk+") {
        EXPECT_NE(JsonField(lines[i - 1], "kind").find("bulk"), std::string::npos) << i;
      }
    }
    EXPECT_EQ(ids, (std::set<long long>{0x00, 0x01, 0x10, 0x13, 0x20, 0x30, 0x40, 0x41, 0x43, 0x50}));
    EXPECT_GE(conns.size(), 5u);  // 0-3 and the bulk messages' 0xFF
  }
  // The content follows the seed.
  auto data = [&](const std::string& name, int seed) {
    std::string all;
    for (const std::string& l : DumpJson(Record(name, 200, "1.02", seed))) all += JsonField(l, "data") + "/";
    return all;
  };
  EXPECT_EQ(data("a.cvr", 7), data("b.cvr", 7));
  EXPECT_NE(data("a.cvr", 7), data("c.cvr", 8));
}

TEST_F(CvrtoolLogTest, DumpShowsCountBookmarksAndDataStyles) {
  const std::string log = Record("a.cvr", 100);
  const ToolRun human = Run({"dump", log, "--count", "6", "--data", "ascii"});
  ASSERT_EQ(human.exit_code, kExitOk) << human.err;
  const auto lines = human.lines();
  ASSERT_EQ(lines.size(), 7u);  // heading and six records
  EXPECT_NE(lines[0].find("MSG"), std::string::npos);
  EXPECT_NE(lines[1].find("CVR_ID_FILE_PROGRAM_INFO"), std::string::npos);
  EXPECT_NE(lines[1].find("cvrtool demo recorder"), std::string::npos);

  const ToolRun none = Run({"dump", log, "--data", "none", "--count", "1"});
  EXPECT_EQ(none.lines()[1].find("63 76"), std::string::npos);
  const ToolRun hex = Run({"dump", log, "--bytes", "2", "--count", "1"});
  EXPECT_NE(hex.lines()[1].find("63 76 ...(+19)"), std::string::npos) << hex.out;

  // Bookmarks come out at the message numbers that `bookmarks list` gives.
  const ToolRun list = Run({"bookmarks", log, "list", "--json"});
  ASSERT_EQ(list.lines().size(), 3u);
  const auto records = DumpJson(log);
  for (const std::string& b : list.lines()) {
    const std::string& r = records.at(static_cast<size_t>(JsonInt(b, "msg")));
    EXPECT_EQ(JsonField(r, "kind"), "bookmark");
    EXPECT_EQ(JsonField(r, "comment"), JsonField(b, "comment"));
    EXPECT_EQ(JsonInt(r, "id"), 0x43);
  }
}

TEST_F(CvrtoolLogTest, VerifyReportsTheFirstDamage) {
  const std::string clean = Record("clean.cvr", 200);
  const auto records = DumpJson(clean, {"--data", "none"});
  const std::string last = records.back();  // an ordinary block, written last
  const auto last_start = static_cast<size_t>(JsonInt(last, "offset") - 16);
  const auto bytes = ReadFileBytes(clean);

  struct Case {
    const char* name;
    std::vector<uint8_t> content;
    const char* says;
    long long record_offset;
  };
  std::vector<uint8_t> data_cut(bytes.begin(), bytes.end() - 3);
  std::vector<uint8_t> header_cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(last_start + 8));
  const Case cases[] = {
      {"data_cut.cvr", data_cut, "data length exceeds end of file", static_cast<long long>(last_start)},
      // The library reports a header cut short itself, at the header's start.
      {"header_cut.cvr", header_cut, "Block header read failed", static_cast<long long>(last_start)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(File(c.name), c.content);
    const ToolRun r = Run({"verify", File(c.name), "--json"});
    EXPECT_EQ(r.exit_code, kExitFailure) << r.out << r.err;
    EXPECT_EQ(JsonField(r.out, "ok"), "false");
    EXPECT_NE(JsonField(r.out, "error").find(c.says), std::string::npos) << r.out;
    EXPECT_EQ(JsonInt(r.out, "record_offset"), c.record_offset) << r.out;
    const ToolRun human = Run({"verify", File(c.name)});
    EXPECT_EQ(human.out.rfind("damaged: ", 0), 0u) << human.out;
    // info sums up what it could read and fails too; dump fails at the damage.
    EXPECT_EQ(Run({"info", File(c.name)}).exit_code, kExitFailure);
  }
  const ToolRun ok = Run({"verify", clean});
  EXPECT_EQ(ok.exit_code, kExitOk) << ok.out << ok.err;
  EXPECT_EQ(ok.out.rfind("ok: ", 0), 0u);
  EXPECT_NE(ok.out.find("200 messages, 3 bookmarks"), std::string::npos) << ok.out;
}

TEST_F(CvrtoolLogTest, ConvertRoundTripsBetweenEveryPairOfFormats) {
  for (const char* from : kFormats) {
    const std::string source = Record(std::string("src-") + from + ".cvr", 300, from);
    const auto original = DumpJson(source);
    for (const char* to : kFormats) {
      SCOPED_TRACE(std::string(from) + " -> " + to);
      const std::string there = File(std::string("to-") + from + "-" + to + ".cvr");
      const std::string back = File(std::string("back-") + from + "-" + to + ".cvr");
      ASSERT_EQ(Run({"convert", source, there, "--to", to}).exit_code, kExitOk);
      ASSERT_EQ(Run({"convert", there, back, "--to", from}).exit_code, kExitOk);

      const auto converted = DumpJson(there);
      const auto returned = DumpJson(back);
      ASSERT_EQ(converted.size(), original.size());
      ASSERT_EQ(returned.size(), original.size());
      for (size_t i = 0; i < original.size(); ++i) {
        // Back in its own format the log is the same, padding included.
        EXPECT_EQ(Comparable(returned[i]), Comparable(original[i]));
        // In the other format every field is, up to a bulk message's padding.
        for (const char* key : {"msg", "id", "name", "conn", "ns", "kind", "bookmark", "comment"}) {
          EXPECT_EQ(JsonField(converted[i], key), JsonField(original[i], key)) << key << " of " << i;
        }
        EXPECT_EQ(TrimmedData(converted[i]), TrimmedData(original[i])) << i;
      }
      EXPECT_EQ(Run({"verify", there}).exit_code, kExitOk);
    }
  }
}

// On a pipe convert prints one line and no progress bar.
TEST_F(CvrtoolLogTest, ConvertSplitBulkWritesEveryMessageAsItsOwnBlock) {
  const ToolRun r = Run({"convert", Record("a.cvr", 200), File("b.cvr"), "--to", "1.02", "--split-bulk"});
  ASSERT_EQ(r.exit_code, kExitOk) << r.err;
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(r.lines().size(), 1u) << r.out;
  EXPECT_EQ(r.lines()[0].rfind("converted ", 0), 0u) << r.out;
  const ToolRun info = Run({"info", File("b.cvr"), "--json"});
  EXPECT_EQ(JsonInt(info.out, "bulk_blocks"), 0);
  EXPECT_EQ(JsonInt(info.out, "blocks"), 200);
  EXPECT_EQ(JsonInt(info.out, "bookmarks"), 3);
}

TEST_F(CvrtoolLogTest, BookmarkChangesPersistInTheBookmarkFile) {
  const std::string log = Record("a.cvr", 100);
  auto list = [&] {
    std::vector<std::string> entries;
    for (const std::string& l : Run({"bookmarks", log, "list", "--json"}).lines()) {
      entries.push_back(JsonField(l, "msg") + ":" + JsonField(l, "comment"));
    }
    return entries;
  };
  const auto initial = list();
  ASSERT_EQ(initial.size(), 3u);
  const int m1 = std::stoi(initial[1]), m2 = std::stoi(initial[2]);
  EXPECT_EQ(initial[1], std::to_string(m1) + ":checkpoint 2");

  const ToolRun edit = Run({"bookmarks", log, "edit", "1", "handover, second try"});
  ASSERT_EQ(edit.exit_code, kExitOk) << edit.err;
  EXPECT_NE(edit.out.find("was \"checkpoint 2\""), std::string::npos) << edit.out;
  ASSERT_EQ(Run({"bookmarks", log, "delete", "0"}).exit_code, kExitOk);
  // Message numbers count bookmarks: the later ones move down by one.
  EXPECT_EQ(list(), (std::vector<std::string>{std::to_string(m1 - 1) + ":handover, second try",
                                              std::to_string(m2 - 1) + ":checkpoint 3"}));

  // At message 0 the library needs no index to check the number.
  ASSERT_EQ(Run({"bookmarks", log, "add", "0", "start"}).exit_code, kExitOk);
  EXPECT_EQ(list(), (std::vector<std::string>{"0:start", std::to_string(m1) + ":handover, second try",
                                              std::to_string(m2) + ":checkpoint 3"}));

  const ToolRun missing = Run({"bookmarks", log, "delete", "3"});
  EXPECT_EQ(missing.exit_code, kExitFailure);
  EXPECT_NE(missing.err.find("no bookmark #3"), std::string::npos) << missing.err;

  for (int i = 0; i < 3; ++i) ASSERT_EQ(Run({"bookmarks", log, "delete", "0"}).exit_code, kExitOk);
  EXPECT_TRUE(list().empty());
  EXPECT_FALSE(FileExists(File("a.bmk")));
  EXPECT_EQ(Run({"bookmarks", log, "list"}).lines(), std::vector<std::string>{"no bookmarks in " + log});
  // In the middle the tool builds the index the library needs for the number.
  ASSERT_EQ(Run({"bookmarks", log, "add", "40", "look here"}).exit_code, kExitOk);
  EXPECT_EQ(list(), std::vector<std::string>{"40:look here"});
  EXPECT_TRUE(FileExists(File("a.idx")));
}

// A dump from the middle builds a missing index (quietly on a pipe); index
// rebuilds it; a dump from any message then matches the full dump.
TEST_F(CvrtoolLogTest, IndexThenDumpFromAnyMessageMatchesTheFullDump) {
  const std::string log = Record("a.cvr", 1000, "u1.02");
  const ToolRun first = Run({"dump", log, "--from", "150", "--count", "1", "--json"});
  ASSERT_EQ(first.exit_code, kExitOk) << first.err;
  EXPECT_EQ(JsonInt(first.out, "msg"), 150);
  EXPECT_TRUE(FileExists(File("a.idx")));
  EXPECT_EQ(first.err, "");
  const ToolRun again = Run({"index", log, "--resolution", "25", "--json"});
  ASSERT_EQ(again.exit_code, kExitOk) << again.err;
  EXPECT_EQ(JsonField(again.out, "rebuilt"), "true");
  EXPECT_EQ(JsonInt(again.out, "resolution"), 25);
  EXPECT_EQ(JsonInt(again.out, "records"), 1003);
  EXPECT_NE(Run({"info", log}).out.find("present, resolution 25, 1003 records"), std::string::npos);
  {
    // A viewer holding the log and its index keeps the index from being
    // replaced: the rebuild is abandoned, and the tool says so.
    auto viewer = test::Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
    EnumFileVersion v = FileVersionUnknown;
    ASSERT_EQ(viewer->Open(test::Bstr(log).get(), FileAccessModeReadOnly, &v, 0), S_OK);
    const ToolRun held = Run({"index", log, "--resolution", "50"});
    EXPECT_EQ(held.exit_code, kExitFailure);
    EXPECT_NE(held.err.find("was not rebuilt"), std::string::npos) << held.err;
    EXPECT_EQ(viewer->Close(), S_OK);
  }

  const auto all = DumpJson(log);
  for (const long long from : {1LL, 24LL, 25LL, 26LL, 251LL, 252LL, 500LL, 999LL, 1002LL}) {
    SCOPED_TRACE(from);
    const auto part = DumpJson(log, {"--from", std::to_string(from), "--count", "5"});
    ASSERT_EQ(part.size(), std::min<size_t>(5, all.size() - static_cast<size_t>(from)));
    for (size_t i = 0; i < part.size(); ++i) {
      // Right after a jump the tool has no earlier record to tell whether a
      // message on connection 0xFF began a bulk block: its kind shows "?".
      std::string expected = all[static_cast<size_t>(from) + i], got = part[i];
      if (i == 0) {
        const bool message = JsonInt(expected, "id") == 0x50 && JsonInt(expected, "conn") == 255;
        EXPECT_EQ(JsonField(got, "kind"), message ? "?" : JsonField(expected, "kind"));
        for (const char* key : {"msg", "id", "conn", "ns", "data", "comment"}) {
          EXPECT_EQ(JsonField(got, key), JsonField(expected, key)) << key;
        }
      } else {
        EXPECT_EQ(got, expected);
      }
    }
  }
  const ToolRun past = Run({"dump", log, "--from", "1003"});
  EXPECT_EQ(past.exit_code, kExitFailure);
  EXPECT_NE(past.err.find("exceeds record count"), std::string::npos) << past.err;
}

}  // namespace
}  // namespace corvane::test
