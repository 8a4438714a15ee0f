// Reads the JSON files of Google Benchmark runs (--benchmark_format=json or
// --benchmark_out) and prints one Markdown table: each library operation
// next to the baselines measured in the same run, with the ratio
// baseline time / library time (above 1: the library is faster). With
// repetitions, the medians are used.
//
//   bench_table [--header LINE]... FILE.json...
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
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

// One benchmark's median (or its only run).
struct Result {
  double seconds = NAN;          // real time per iteration
  double bytes_per_second = NAN;
  std::map<std::string, double> counters;
  std::string error;
  int repetitions = 1;
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
    const std::string type = b.Str("run_type");
    const std::string aggregate = b.Str("aggregate_name");
    if (type == "aggregate" && aggregate != "median") continue;
    const std::string name = BaseName(b.Str("run_name").empty() ? b.Str("name") : b.Str("run_name"));
    // Without repetitions only single runs appear; with them, the median wins.
    if (type != "aggregate" && results->count(name) && results->at(name).repetitions > 1) continue;
    Result r;
    r.seconds = b.Num("real_time") * UnitSeconds(b.Str("time_unit"));
    // Google Benchmark relates bytes to CPU time unless the run uses real or
    // manual time; the table relates them to real time, as it does the ratios.
    const std::string full_name = b.Str("name");
    const bool on_cpu = full_name.find("/real_time") == std::string::npos &&
                        full_name.find("/manual_time") == std::string::npos;
    const double cpu_seconds = b.Num("cpu_time") * UnitSeconds(b.Str("time_unit"));
    r.bytes_per_second = b.Num("bytes_per_second") * (on_cpu ? cpu_seconds / r.seconds : 1);
    r.repetitions = static_cast<int>(b.Num("repetitions", 1));
    if (const Json* e = b.Get("error_occurred"); e && e->number) r.error = b.Str("error_message");
    for (const auto& m : b.members) {
      bool known = false;
      for (const auto& f : kFields) known = known || f == m.first;
      if (!known && m.second.kind == Json::kNumber) r.counters[m.first] = m.second.number;
    }
    (*results)[name] = r;
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

std::string Rate(double bytes_per_second) {
  if (!(bytes_per_second > 0)) return "";
  return bytes_per_second >= 1e9 ? Fmt(" (%.2f GB/s)", bytes_per_second / 1e9)
                                  : Fmt(" (%.0f MB/s)", bytes_per_second / 1e6);
}

std::string Ratio(double r) {
  if (!(r == r)) return "?";
  return r >= 100 ? Fmt("%.0f", r) : r >= 10 ? Fmt("%.1f", r) : Fmt("%.2f", r);
}

// How one figure is taken from a result: its time, or a counter in
// microseconds (the latency percentiles).
struct Figure {
  std::string benchmark;
  std::string counter;  // empty: real time per iteration
};

struct Comparison {
  std::string what;
  std::string library_label;
  Figure library;
  std::vector<std::pair<std::string, Figure>> baselines;
};

class Table {
 public:
  explicit Table(const std::map<std::string, Result>& results) : results_(results) {}

  void Add(const Comparison& c) {
    const Result* lib = Find(c.library.benchmark);
    if (!lib) return;
    bool first = true;
    for (const auto& [label, figure] : c.baselines) {
      const Result* base = Find(figure.benchmark);
      if (!base) continue;
      std::string lib_cell = first ? c.library_label + ": " + Cell(*lib, c.library) : "";
      std::string ratio;
      if (!lib->error.empty() || !base->error.empty()) {
        ratio = "error: " + (lib->error.empty() ? base->error : lib->error);
      } else {
        ratio = Ratio(Seconds(*base, figure) / Seconds(*lib, c.library));
      }
      rows_.push_back({first ? c.what : "", lib_cell, label + ": " + Cell(*base, figure), ratio});
      first = false;
    }
  }

  void Print() const {
    std::printf("| what | library (median) | baseline, same run (median) | ratio |\n");
    std::printf("|---|---|---|---|\n");
    for (const auto& r : rows_) {
      std::printf("| %s | %s | %s | %s |\n", r[0].c_str(), r[1].c_str(), r[2].c_str(), r[3].c_str());
    }
  }

 private:
  const Result* Find(const std::string& name) const {
    auto it = results_.find(name);
    return it == results_.end() ? nullptr : &it->second;
  }
  static double Seconds(const Result& r, const Figure& f) {
    if (f.counter.empty()) return r.seconds;
    auto it = r.counters.find(f.counter);
    return it == r.counters.end() ? NAN : it->second * 1e-6;
  }
  static std::string Cell(const Result& r, const Figure& f) {
    return Time(Seconds(r, f)) + (f.counter.empty() ? Rate(r.bytes_per_second) : "");
  }

  const std::map<std::string, Result>& results_;
  std::vector<std::array<std::string, 4>> rows_;
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

  Table t(results);
  // Writing and reading the same records, for every payload size measured.
  std::vector<std::string> payloads;
  for (const auto& [name, r] : results) {
    if (name.rfind("BM_WriteBlock_Plain/", 0) == 0) payloads.push_back(name.substr(20));
  }
  std::sort(payloads.begin(), payloads.end(), [](const std::string& a, const std::string& b) {
    return std::atoll(a.c_str()) < std::atoll(b.c_str());
  });
  for (const std::string& p : payloads) {
    t.Add({"write, " + p + "-byte payloads", "WriteBlock, 1.02", {"BM_WriteBlock_Plain/" + p, ""},
           {{"write() 1 MiB chunks", {"BM_RawWrite/" + p, ""}},
            {"write() 64 KiB chunks (the disk buffer's size)", {"BM_RawWrite_DiskBufferChunks/" + p, ""}},
            {"fwrite per record, 1 MiB buffer", {"BM_StdioWrite/" + p, ""}},
            {"pcap_dump", {"BM_PcapDump/" + p, ""}}}});
  }
  for (const std::string& p : payloads) {
    t.Add({"write enciphered, " + p + "-byte payloads", "WriteBlock, e1.02", {"BM_WriteBlock_Enciphered/" + p, ""},
           {{"write() 1 MiB chunks", {"BM_RawWrite/" + p, ""}},
            {"WriteBlock, 1.02 (plain)", {"BM_WriteBlock_Plain/" + p, ""}}}});
  }
  for (const std::string& p : payloads) {
    t.Add({"read, " + p + "-byte payloads", "ReadBlockHeader+Data",
           {"BM_ReadBlock/" + p, ""},
           {{"read() 1 MiB chunks", {"BM_RawRead/" + p, ""}},
            {"fread per header and payload, 1 MiB buffer", {"BM_StdioRead/" + p, ""}},
            {"pcap_next_ex", {"BM_PcapNextEx/" + p, ""}}}});
  }
  t.Add({"reach the middle record and read its header", "Jump + ReadBlockHeader", {"BM_Reach_Jump", ""},
         {{"read() scan, 1 MiB chunks", {"BM_Reach_RawScan", ""}},
          {"fread scan, 1 MiB buffer", {"BM_Reach_StdioScan", ""}},
          {"pcap_next_ex scan", {"BM_Reach_PcapScan", ""}},
          {"pread via in-memory offset table", {"BM_Reach_RawOffsetTable", ""}}}});
  for (const char* set : {"shared_set", "e100_set"}) {
    for (const char* op : {"Encipher", "Decipher"}) {
      t.Add({std::string(op) + " 64 KiB in place, " + set, op, {std::string("BM_") + op + "/" + set, ""},
             {{"XOR pass", {"BM_XorPass", ""}}}});
    }
  }
  for (const char* size : {"2048", "65536", "1048576"}) {
    t.Add({std::string("index a log, indexing buffer ") + size,
           "CreateIndex(100)", {std::string("BM_Indexing/") + size, ""},
           {{"read() 1 MiB chunks", {"BM_RawRead_1MiB", ""}}}});
  }
  for (const char* p : {"p50", "p99"}) {
    const std::string counter = std::string(p) + "_us";
    t.Add({std::string("Jump to a random message, ") + p, "Jump + ReadBlockHeader", {"BM_Jump", counter},
           {{"two random pread() of 4 KiB", {"BM_RandomPread_Baseline", counter}}}});
  }

  for (const auto& h : headers) std::printf("%s\n", h.c_str());
  if (!headers.empty()) std::printf("\n");
  t.Print();
  int repetitions = 1;
  for (const auto& [name, r] : results) repetitions = std::max(repetitions, r.repetitions);
  std::printf("\nratio = baseline time / library time (above 1: the library is faster); medians of %d repetitions.\n",
              repetitions);
  return 0;
}
