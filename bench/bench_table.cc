// Reads the JSON files of Google Benchmark runs (--benchmark_out, with
// every repetition reported) and prints one Markdown table: each library
// operation next to its peer measured in the same run, the ratio peer time /
// library time of the medians (above 1: the library is faster), the spread
// of the repetitions, the goal, a MISS mark for a row that misses it, and
// the peak resident memory the benchmark reported.
//
//   bench_table [--header LINE]... FILE.json...
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

// A minimal JSON value and reader: enough for Google Benchmark's output
// (objects, arrays, strings with simple escapes, numbers, literals).
struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json* Get(const std::string& key) const {
    for (const auto& m : members) {
      if (m.first == key) return &m.second;
    }
    return nullptr;
  }
  std::string Str(const std::string& key) const {
    const Json* v = Get(key);
    return v && v->kind == kString ? v->text : "";
  }
  double Num(const std::string& key, double fallback = NAN) const {
    const Json* v = Get(key);
    return v && v->kind == kNumber ? v->number : fallback;
  }
};

class Reader {
 public:
  explicit Reader(const std::string& s) : s_(s) {}
  bool Parse(Json* out) {
    if (!Value(out)) return false;
    Skip();
    return at_ == s_.size();
  }

 private:
  void Skip() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\r' || s_[at_] == '\t')) ++at_;
  }
  bool Eat(char c) {
    Skip();
    if (at_ < s_.size() && s_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool String(std::string* out) {
    if (!Eat('"')) return false;
    while (at_ < s_.size() && s_[at_] != '"') {
      char c = s_[at_++];
      if (c == '\\' && at_ < s_.size()) {
        c = s_[at_++];
        switch (c) {
          case 'n': c = '\n'; break;
          case 't': c = '\t'; break;
          case 'r': c = '\r'; break;
          case 'b': c = '\b'; break;
          case 'f': c = '\f'; break;
          case 'u':  // Google Benchmark writes none; keep a placeholder.
            at_ = std::min(at_ + 4, s_.size());
            c = '?';
            break;
          default: break;  // \" \\ \/
        }
      }
      out->push_back(c);
    }
    return Eat('"');
  }
  bool Value(Json* v) {
    Skip();
    if (at_ >= s_.size()) return false;
    const char c = s_[at_];
    if (c == '{') {
      ++at_;
      v->kind = Json::kObject;
      if (Eat('}')) return true;
      do {
        std::pair<std::string, Json> m;
        if (!String(&m.first) || !Eat(':') || !Value(&m.second)) return false;
        v->members.push_back(std::move(m));
      } while (Eat(','));
      return Eat('}');
    }
    if (c == '[') {
      ++at_;
      v->kind = Json::kArray;
      if (Eat(']')) return true;
      do {
        v->items.emplace_back();
        if (!Value(&v->items.back())) return false;
      } while (Eat(','));
      return Eat(']');
    }
    if (c == '"') {
      v->kind = Json::kString;
      return String(&v->text);
    }
    for (const char* word : {"true", "false", "null"}) {
      if (s_.compare(at_, std::strlen(word), word) == 0) {
        at_ += std::strlen(word);
        v->kind = word[0] == 'n' ? Json::kNull : Json::kBool;
        v->number = word[0] == 't';
        return true;
      }
    }
    // Numbers, and the non-finite values a counter may hold.
    const char* begin = s_.c_str() + at_;
    char* end = nullptr;
    v->number = std::strtod(begin, &end);
    if (end == begin) return false;
    v->kind = Json::kNumber;
    at_ += static_cast<size_t>(end - begin);
    return true;
  }

  const std::string& s_;
  size_t at_ = 0;
};

// Every repetition of one benchmark (Google Benchmark's "iteration" runs;
// aggregates are ignored, the table computes its own).
struct Sample {
  double seconds = NAN;  // real (or manual) time per iteration
  double bytes_per_second = NAN;
  std::map<std::string, double> counters;
};
struct Result {
  std::vector<Sample> samples;
  std::string error;
};

// Benchmark names without the parts that name a run's settings
// ("/real_time", "/manual_time", "/iterations:N", "/min_time:S", ...).
std::string BaseName(const std::string& name) {
  std::string out;
  size_t from = 0;
  while (from <= name.size()) {
    size_t to = name.find('/', from);
    if (to == std::string::npos) to = name.size();
    const std::string part = name.substr(from, to - from);
    const bool setting = part == "real_time" || part == "manual_time" || part.rfind("iterations:", 0) == 0 ||
                         part.rfind("min_time:", 0) == 0 || part.rfind("repeats:", 0) == 0 ||
                         part.rfind("threads:", 0) == 0;
    if (!setting) out += (out.empty() ? "" : "/") + part;
    from = to + 1;
  }
  return out;
}

double UnitSeconds(const std::string& unit) {
  if (unit == "ns") return 1e-9;
  if (unit == "us") return 1e-6;
  if (unit == "ms") return 1e-3;
  return 1;
}

bool Load(const std::string& path, std::map<std::string, Result>* results) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string s = text.str();
  Json root;
  if (!in || !Reader(s).Parse(&root)) {
    std::fprintf(stderr, "bench_table: %s is not a benchmark JSON file\n", path.c_str());
    return false;
  }
  const Json* list = root.Get("benchmarks");
  if (!list) return true;
  static const std::vector<std::string> kFields = {
      "name", "run_name", "run_type", "aggregate_name", "aggregate_unit", "family_index",
      "per_family_instance_index", "repetitions", "repetition_index", "threads", "iterations",
      "real_time", "cpu_time", "time_unit", "bytes_per_second", "items_per_second",
      "error_occurred", "error_message", "label"};
  for (const Json& b : list->items) {
    if (b.Str("run_type") == "aggregate") continue;
    Result& r = (*results)[BaseName(b.Str("run_name").empty() ? b.Str("name") : b.Str("run_name"))];
    if (const Json* e = b.Get("error_occurred"); e && e->number) {
      r.error = b.Str("error_message");
      continue;
    }
    Sample x;
    x.seconds = b.Num("real_time") * UnitSeconds(b.Str("time_unit"));
    // Google Benchmark relates bytes to CPU time unless the run uses real or
    // manual time; the table relates them to real time, as it does the ratios.
    const std::string full_name = b.Str("name");
    const bool on_cpu = full_name.find("/real_time") == std::string::npos &&
                        full_name.find("/manual_time") == std::string::npos;
    const double cpu_seconds = b.Num("cpu_time") * UnitSeconds(b.Str("time_unit"));
    x.bytes_per_second = b.Num("bytes_per_second") * (on_cpu ? cpu_seconds / x.seconds : 1);
    for (const auto& m : b.members) {
      bool known = false;
      for (const auto& f : kFields) known = known || f == m.first;
      if (!known && m.second.kind == Json::kNumber) x.counters[m.first] = m.second.number;
    }
    r.samples.push_back(x);
  }
  return true;
}

std::string Fmt(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

// A time with a unit that keeps three significant digits readable.
std::string Time(double s) {
  if (!(s == s)) return "?";
  if (s >= 1) return Fmt("%.2f s", s);
  if (s >= 1e-3) return Fmt(s >= 0.1 ? "%.0f ms" : s >= 0.01 ? "%.1f ms" : "%.2f ms", s * 1e3);
  if (s >= 1e-6) return Fmt(s >= 1e-4 ? "%.0f us" : s >= 1e-5 ? "%.1f us" : "%.2f us", s * 1e6);
  return Fmt("%.0f ns", s * 1e9);
}

std::string Ratio(double r) {
  if (!(r == r)) return "?";
  return r >= 100 ? Fmt("%.0f", r) : r >= 10 ? Fmt("%.1f", r) : Fmt("%.2f", r);
}

// One figure of a result: its time, or a counter in microseconds (the
// latency percentiles) turned into seconds.
struct Figure {
  std::string label;      // shown before the value
  std::string benchmark;  // empty: none
  std::string counter;    // empty: real time per iteration
};

// Median, spread ((max - min) / median) and peak resident memory (the
// largest "peak_rss_mib" of any repetition) of one figure.
struct Stat {
  bool found = false;
  std::string error;
  double median = NAN, spread = NAN, rate = NAN, rss_mib = NAN;
};

enum class Goal { kNone, kRatioAbove, kRatioAtLeast, kBelow, kRssBelow };

struct Row {
  std::string work;
  Figure lib, peer;
  Goal goal = Goal::kNone;
  double threshold = 0;  // ratio, seconds (kBelow) or MiB (kRssBelow)
  std::string goal_text;
};

double Median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

class Table {
 public:
  explicit Table(const std::map<std::string, Result>& results) : results_(results) {}

  void Add(Row row) {
    if (results_.count(row.lib.benchmark)) rows_.push_back(std::move(row));
  }

  void Print() const {
    std::printf("| work | library: median [spread] | peer, same run: median [spread] | ratio | goal | met | peak RSS, MiB |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    int misses = 0, goals = 0;
    for (const Row& r : rows_) {
      const Stat lib = Get(r.lib), peer = Get(r.peer);
      // Rates where both have one (the LogFile rows read fewer records).
      const double ratio = lib.rate > 0 && peer.rate > 0 ? lib.rate / peer.rate : peer.median / lib.median;
      bool met = true;
      switch (r.goal) {
        case Goal::kNone: break;
        case Goal::kRatioAbove: met = ratio > r.threshold; break;
        case Goal::kRatioAtLeast: met = ratio >= r.threshold; break;
        case Goal::kBelow: met = lib.median < r.threshold; break;
        case Goal::kRssBelow: met = lib.rss_mib < r.threshold; break;
      }
      const bool error = !lib.error.empty() || !peer.error.empty();
      const std::string mark = r.goal == Goal::kNone ? "" : error ? "?" : met ? "ok" : "**MISS**";
      goals += r.goal != Goal::kNone;
      misses += r.goal != Goal::kNone && (error || !met);
      std::string rss = lib.rss_mib == lib.rss_mib ? Fmt("%.1f", lib.rss_mib) : "";
      if (peer.rss_mib == peer.rss_mib) rss += " (peer " + Fmt("%.1f", peer.rss_mib) + ")";
      std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", r.work.c_str(), Cell(r.lib, lib).c_str(),
                  Cell(r.peer, peer).c_str(),
                  error ? ("error: " + (lib.error.empty() ? peer.error : lib.error)).c_str()
                        : r.peer.benchmark.empty() ? "" : Ratio(ratio).c_str(),
                  r.goal_text.c_str(), mark.c_str(), rss.c_str());
    }
    std::printf("\n%d of %d goals missed.\n", misses, goals);
  }

 private:
  Stat Get(const Figure& f) const {
    Stat s;
    auto it = results_.find(f.benchmark);
    if (it == results_.end()) return s;
    s.found = true;
    s.error = it->second.error;
    std::vector<double> values, rates;
    for (const Sample& x : it->second.samples) {
      double v = x.seconds;
      if (!f.counter.empty()) {
        auto c = x.counters.find(f.counter);
        v = c == x.counters.end() ? NAN : c->second * 1e-6;
      }
      if (v == v) values.push_back(v);
      if (x.bytes_per_second > 0) rates.push_back(x.bytes_per_second);
      if (auto c = x.counters.find("peak_rss_mib"); c != x.counters.end()) {
        s.rss_mib = s.rss_mib == s.rss_mib ? std::max(s.rss_mib, c->second) : c->second;
      }
    }
    s.median = Median(values);
    s.rate = f.counter.empty() ? Median(rates) : NAN;
    if (!values.empty()) {
      const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
      s.spread = (*hi - *lo) / s.median * 100;
    }
    return s;
  }
  static std::string Cell(const Figure& f, const Stat& s) {
    if (f.benchmark.empty()) return "";
    if (!s.found) return f.label + ": not run";
    std::string out = f.label + ": " + Time(s.median);
    if (s.rate > 0) out += s.rate >= 1e9 ? Fmt(" (%.2f GB/s)", s.rate / 1e9) : Fmt(" (%.0f MB/s)", s.rate / 1e6);
    if (s.spread == s.spread) out += Fmt(" [%.0f%%]", s.spread);
    return out;
  }

  const std::map<std::string, Result>& results_;
  std::vector<Row> rows_;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> headers;
  std::map<std::string, Result> results;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--header" && i + 1 < argc) {
      headers.push_back(argv[++i]);
    } else if (!Load(arg, &results)) {
      return 1;
    }
  }
  if (results.empty()) {
    std::fprintf(stderr, "usage: bench_table [--header LINE]... FILE.json...\n");
    return 2;
  }

  // The payload sizes measured, in order.
  std::vector<std::string> payloads;
  for (const auto& [name, r] : results) {
    if (name.rfind("BM_WriteBlock_Plain/", 0) == 0) payloads.push_back(name.substr(20));
  }
  std::sort(payloads.begin(), payloads.end(), [](const std::string& a, const std::string& b) {
    return std::atoll(a.c_str()) < std::atoll(b.c_str());
  });
  auto small = [](const std::string& p) { return std::atoll(p.c_str()) < 256; };
  Table t(results);
  // Each comparison over every payload size; `goal` gives a payload's goal.
  using GoalOf = std::function<Row(const std::string&)>;
  auto per_payload = [&](const std::string& work, const std::string& lib_label, const std::string& lib,
                         const std::string& peer_label, const std::string& peer, const GoalOf& goal) {
    for (const std::string& p : payloads) {
      Row r = goal ? goal(p) : Row{};
      r.work = work + ", " + p + " B";
      r.lib = {lib_label, lib + "/" + p, ""};
      r.peer = {peer_label, peer + "/" + p, ""};
      t.Add(r);
    }
  };
  auto ratio = [](Goal g, double threshold, const std::string& text) {
    Row r;
    r.goal = g, r.threshold = threshold, r.goal_text = text;
    return r;
  };
  const GoalOf faster = [&](const std::string&) { return ratio(Goal::kRatioAbove, 1, "> 1"); };
  const GoalOf none;
  const GoalOf enciphered_read = [&](const std::string& p) {
    return small(p) ? ratio(Goal::kRatioAtLeast, 0.8, ">= 0.8") : ratio(Goal::kRatioAtLeast, 0.5, ">= 0.5");
  };
  const std::string plain_write = "BM_WriteBlock_Plain", plain_read = "BM_ReadBlock";
  per_payload("write 1.02", "WriteBlock", plain_write, "fwrite, 64 KiB buffer", "BM_StdioWrite", faster);
  per_payload("write 1.02", "WriteBlock", plain_write, "write() 1 MiB chunks", "BM_RawWrite",
              [&](const std::string& p) { return small(p) ? Row{} : ratio(Goal::kRatioAtLeast, 0.9, ">= 0.9"); });
  per_payload("write 1.02", "WriteBlock", plain_write, "pcap_dump", "BM_PcapDump", none);
  per_payload("write e1.02", "WriteBlock", "BM_WriteBlock_Enciphered", "WriteBlock 1.02", plain_write,
              [&](const std::string&) { return ratio(Goal::kRatioAtLeast, 0.65, ">= 0.65"); });
  per_payload("write u1.02", "WriteBlock", "BM_WriteBlock_BigEndian", "WriteBlock 1.02", plain_write, none);
  per_payload("read 1.02", "ReadBlockHeader+Data", plain_read, "fread, 64 KiB buffer", "BM_StdioRead", faster);
  per_payload("read 1.02", "ReadBlockHeader+Data", plain_read, "pcap_next_ex", "BM_PcapNextEx", faster);
  per_payload("read 1.02", "ReadBlockHeader+Data", plain_read, "read() 1 MiB chunks", "BM_RawRead", none);
  per_payload("read e1.02 (LogFile2)", "ReadBlockHeader+Data", "BM_ReadBlock_Enciphered", "LogFile2 1.02",
              plain_read, enciphered_read);
  per_payload("read e1.01 (LogFile)", "ReadBlockHeader+Data", "BM_LogFileRead_e101", "LogFile2 1.02", plain_read,
              enciphered_read);
  per_payload("read e1.00 (LogFile)", "ReadBlockHeader+Data", "BM_LogFileRead_e100", "LogFile2 1.02", plain_read,
              enciphered_read);
  per_payload("read 01.00 (LogFile)", "ReadBlockHeader+Data", "BM_LogFileRead_0100", "LogFile2 1.02", plain_read,
              none);
  per_payload("read u1.02 (LogFile2)", "ReadBlockHeader+Data", "BM_ReadBlock_BigEndian", "LogFile2 1.02", plain_read,
              none);
  per_payload("read hex dump (LogFile)", "ReadBlockHeader+Data", "BM_LogFileRead_Hex", "LogFile2 1.02", plain_read,
              none);
  per_payload("index, default settings", "CreateIndex(100)", "BM_Indexing", "read() 1 MiB chunks",
              "BM_RawRead_1MiB", [&](const std::string&) { return ratio(Goal::kRatioAtLeast, 1, ">= 1"); });
  for (const char* p : {"p50", "p99"}) {
    const bool p50 = p[1] == '5';
    Row r = ratio(Goal::kBelow, p50 ? 5e-6 : 20e-6, p50 ? "< 5 us" : "< 20 us");
    r.work = std::string("Jump + ReadBlockHeader, random, ") + p;
    r.lib = {"Jump", "BM_Jump", std::string(p) + "_us"};
    r.peer = {"two pread() of 4 KiB", "BM_RandomPread_Baseline", std::string(p) + "_us"};
    t.Add(r);
  }
  {
    Row r = ratio(Goal::kRatioAtLeast, 1 / 1.5, "<= 1.5x plain (ratio >= 0.67)");
    r.work = "cvrtool verify e1.02 (child, wall time)";
    r.lib = {"e1.02", "BM_Cvrtool/verify_enciphered", ""};
    r.peer = {"same log plain", "BM_Cvrtool/verify_plain", ""};
    t.Add(r);
  }
  // The copying commands against convert of the same log, at least half
  // its speed per byte; merge copies two logs, twice convert's bytes.
  for (const char* command : {"export_pcapng", "export_jsonl", "export_csv", "import", "slice", "split", "merge"}) {
    const bool two = std::string_view(command) == "merge";
    Row r = two ? ratio(Goal::kRatioAtLeast, 0.25, ">= 0.25 (twice the bytes)") : ratio(Goal::kRatioAtLeast, 0.5, ">= 0.5");
    r.work = std::string("cvrtool ") + command + " (child, wall time)";
    r.lib = {command, std::string("BM_Cvrtool/") + command, ""};
    r.peer = {"cvrtool convert", "BM_Cvrtool/convert", ""};
    t.Add(r);
  }
  const std::pair<const char*, const char*> memory[] = {
      {"BM_Memory_Write/plain", "write 1.02"},         {"BM_Memory_Write/enciphered", "write e1.02"},
      {"BM_Memory_Read/plain", "read 1.02"},           {"BM_Memory_Read/enciphered", "read e1.02"},
      {"BM_Memory_Index", "CreateIndex"},              {"BM_Memory_Jump", "Jump + ReadBlockHeader"},
      {"BM_Cvrtool/verify_plain", "cvrtool verify"},   {"BM_Cvrtool/verify_enciphered", "cvrtool verify e1.02"},
      {"BM_Cvrtool/dump", "cvrtool dump"},             {"BM_Cvrtool/info", "cvrtool info"},
      {"BM_Cvrtool/index", "cvrtool index"},           {"BM_Cvrtool/convert", "cvrtool convert"},
      {"BM_Cvrtool/export_pcapng", "cvrtool export"},  {"BM_Cvrtool/import", "cvrtool import"},
      {"BM_Cvrtool/slice", "cvrtool slice"},           {"BM_Cvrtool/split", "cvrtool split"},
      {"BM_Cvrtool/merge", "cvrtool merge"}};
  for (const auto& [name, label] : memory) {
    Row r = ratio(Goal::kRssBelow, 16, "< 16 MiB");
    r.work = std::string("memory, large log: ") + label;
    r.lib = {label, name, ""};
    t.Add(r);
  }
  for (const auto& [peer, label] : {std::pair<const char*, const char*>{"BM_Reach_RawScan", "read() scan"},
                                    {"BM_Reach_StdioScan", "fread scan"},
                                    {"BM_Reach_PcapScan", "pcap_next_ex scan"},
                                    {"BM_Reach_RawOffsetTable", "pread via in-memory offset table"}}) {
    t.Add({"reach the middle record", {"Jump + ReadBlockHeader", "BM_Reach_Jump", ""}, {label, peer, ""}, Goal::kNone, 0, ""});
  }
  for (const char* set : {"shared_set", "e100_set"}) {
    for (const char* op : {"Encipher", "Decipher"}) {
      t.Add({std::string(op) + " 64 KiB in place, " + set,
             {op, std::string("BM_") + op + "/" + set, ""},
             {"one XOR pass", "BM_XorPass", ""}, Goal::kNone, 0, ""});
    }
  }

  for (const auto& h : headers) std::printf("%s\n", h.c_str());
  if (!headers.empty()) std::printf("\n");
  t.Print();
  size_t repetitions = 0;
  for (const auto& [name, r] : results) repetitions = std::max(repetitions, r.samples.size());
  std::printf(
      "ratio = peer time / library time (or library rate / peer rate where both have one), medians of %zu rounds "
      "(above 1: the library is faster); "
      "[spread] = (max - min) / median of the rounds; peak RSS = the largest VmHWM (in-process) "
      "or ru_maxrss (cvrtool child) of the rounds.\n",
      repetitions);
  return 0;
}
