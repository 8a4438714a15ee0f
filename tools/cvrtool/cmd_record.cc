// record: writes a demo log with every kind of block, so that the other
// commands have something real to work on.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>

#include "args.h"
#include "commands.h"
#include "log_writer.h"
#include "names.h"
#include "output.h"
#include "progress.h"

namespace cvrtool {

const char kRecordHelp[] =
    "usage: cvrtool record OUT --demo N [--format F] [--seed S] [--json]\n"
    "\n"
    "Writes a demo log of N messages to OUT (replacing it and its .idx/.bmk\n"
    "files): a few test-setup blocks, single messages on connections 0-3, bulk\n"
    "blocks of 2-6 messages, GPS positions, comments, markers and a bookmark\n"
    "block about every quarter of the log. Time stamps are taken while writing:\n"
    "the first block starts the clock (mode 3), the others are stamped relative\n"
    "to it (mode 2). All other content follows from the seed.\n"
    "\n"
    "  --demo N      number of messages (bulk messages counted one by one)\n"
    "  --format F    generation to write: 1.02 (default), u1.02, e1.02, e1.01\n"
    "  --seed S      seed of the content (default 1)\n"
    "  --json        print the summary as one JSON object\n"
    "\n"
    "example: cvrtool record demo.cvr --demo 10000 --format u1.02\n";

namespace {

// splitmix64: the same sequence on every platform and compiler.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  unsigned Below(unsigned n) { return static_cast<unsigned>(Next() % n); }

 private:
  uint64_t state_;
};

constexpr uint8_t kMedia = 0x1D;
constexpr uint8_t kReceiver = 0x10;
constexpr uint8_t kStampNow = 2;
constexpr uint8_t kStampRestart = 3;

std::vector<uint8_t> DemoMessage(Random& rng) {
  std::vector<uint8_t> payload(4 + rng.Below(37));
  for (auto& b : payload) b = static_cast<uint8_t>(rng.Next());
  const auto sender = static_cast<uint8_t>(0x20 + rng.Below(4));
  const auto resource = static_cast<uint8_t>(rng.Below(0x70));  // never 0x7C: no embedded stamp
  return MakeMessage(kMedia, kReceiver, sender, resource, payload);
}

void WriteText(LogWriter& out, uint16_t id, uint8_t conn, uint8_t mode, const std::string& text) {
  out.Write(id, conn, mode, 0, reinterpret_cast<const uint8_t*>(text.data()),
            static_cast<uint32_t>(text.size()));
}

}  // namespace

int RunRecord(const Words& words) {
  const Args args(words, {{"demo", true}, {"format", true}, {"seed", true}, {"json", false}});
  if (args.help()) return PrintHelp(kRecordHelp);
  args.ExpectPositional(1, 1);
  if (!args.Has("demo")) throw UsageError("record needs --demo N (the only source so far)");
  const int64_t total = args.Int("demo", 0, 1, int64_t{1} << 40);
  const std::string format = args.Value("format", "1.02");
  const EnumFileVersion version = WritableVersionFromName(format);
  if (version == FileVersionUnknown) {
    throw UsageError("--format must be one of " + std::string(kWritableVersionNames) + ", not '" +
                     format + "'");
  }
  Random rng(static_cast<uint64_t>(args.Int("seed", 1, 0, INT64_MAX)));
  const std::string& path = args.positional()[0];

  LogWriter out(path, version);
  Progress bar("recording", StderrIsTerminal() && total >= 100000);
  // The test set-up a recorder writes first; the first block starts the clock.
  const struct {
    uint16_t id;
    const char* text;
  } preamble[] = {{CVR_ID_FILE_PROGRAM_INFO, "cvrtool demo recorder"},
                  {CVR_ID_FILE_TIME_DATE, "2024-05-17 09:30:00"},
                  {CVR_ID_TEST_LOCATION, "Lab 3, bench 2"},
                  {CVR_ID_TEST_OPERATOR, "demo operator"},
                  {CVR_ID_MS_TYPE, "QX-200 handset"}};
  for (const auto& block : preamble) {
    if (out.messages() >= total) break;
    WriteText(out, block.id, 0, out.messages() == 0 ? kStampRestart : kStampNow, block.text);
  }

  const int64_t bookmark_step = total >= 8 ? total / 4 : total + 1;
  int64_t next_bookmark = bookmark_step;
  int step = 0;
  while (out.messages() < total) {
    if (out.messages() >= next_bookmark) {
      out.WriteBookmark("checkpoint " + std::to_string(out.bookmarks() + 1));
      next_bookmark += bookmark_step;
    }
    const unsigned pick = rng.Below(100);
    const int64_t left = total - out.messages();
    if (pick < 45 || (pick < 75 && left < 2)) {
      const auto m = DemoMessage(rng);
      out.Write(CVR_ID_QUIVOX_MSG, static_cast<uint8_t>(rng.Below(4)), kStampNow, 0, m.data(),
                static_cast<uint32_t>(m.size()));
    } else if (pick < 75) {
      const auto count = static_cast<unsigned>(std::min<int64_t>(2 + rng.Below(5), left));
      std::vector<std::vector<uint8_t>> messages;
      for (unsigned i = 0; i < count; ++i) messages.push_back(DemoMessage(rng));
      out.WriteBulk(0, kStampNow, 0, messages);
    } else if (pick < 85) {
      char text[64];
      std::snprintf(text, sizeof text, "lat=52.%05u lon=13.%05u alt=%u", rng.Below(100000),
                    rng.Below(100000), 30 + rng.Below(20));
      WriteText(out, CVR_ID_GPS_POSITION, 0, kStampNow, text);
    } else if (pick < 93) {
      WriteText(out, CVR_ID_COMMENT, 0, kStampNow, "step " + std::to_string(++step));
    } else {
      WriteText(out, CVR_ID_MARKER, static_cast<uint8_t>(rng.Below(4)), kStampNow,
                "marker " + std::to_string(out.messages()));
    }
    bar.Update(out.messages(), total);
  }
  out.Close();
  bar.Finish();

  std::error_code ec;
  const auto size = static_cast<int64_t>(std::filesystem::file_size(path, ec));
  if (args.Has("json")) {
    PrintLine(Json()
                  .Add("file", path)
                  .Add("format", FileVersionName(version))
                  .Add("messages", out.messages())
                  .Add("blocks", out.blocks())
                  .Add("bookmarks", out.bookmarks())
                  .Add("size", ec ? int64_t{-1} : size)
                  .str());
  } else {
    PrintLine("wrote " + path + ": " + FileVersionDescription(version) + ", " +
              std::to_string(out.messages()) + " messages in " + std::to_string(out.blocks()) +
              " blocks, " + std::to_string(out.bookmarks()) + " bookmarks" +
              (ec ? "" : ", " + std::to_string(size) + " bytes"));
  }
  return kExitOk;
}

}  // namespace cvrtool
