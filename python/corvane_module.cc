// The Python module `corvane`: a thin layer over <corvane/corvane.hpp>.
//
// Every file operation is a call of the C++ layer (or, for what it does not
// wrap, of the ILogFile2 object it hands out); this file only converts
// arguments and results, checks their ranges and translates errors. The
// batch reader fills numpy arrays in C++ with the GIL released, without a
// Python object per record.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <corvane/corvane.hpp>

#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace py = pybind11;

// One row of a batch: the record's header fields, its message number and
// where its data lies in the batch's flat data array.
struct BatchRow {
  std::int64_t message_number;
  std::uint64_t time_ns;
  std::uint64_t offset;
  std::uint32_t size;
  std::uint16_t block_id;
  std::uint8_t connection;
  std::uint8_t stamp_mode;
};

namespace {


PyObject* g_error = nullptr;          // corvane.Error
PyTypeObject* g_record_type = nullptr;  // corvane.Record, a struct sequence
py::object* g_bookmark_type = nullptr;  // corvane.Bookmark, a named tuple
py::object* g_batch_type = nullptr;     // corvane.Batch, a named tuple
PyObject* g_kind_message = nullptr;
PyObject* g_kind_bookmark = nullptr;

// Raises corvane.Error(text) with .code (the HRESULT as an unsigned number)
// and .text (the library's description).
void set_error(const corvane::Error& e) {
  py::object error = py::reinterpret_borrow<py::object>(g_error)(e.what());
  error.attr("code") = py::int_(static_cast<std::uint32_t>(e.code()));
  error.attr("text") = py::str(e.what());
  PyErr_SetObject(g_error, error.ptr());
}

// The library's writable generations by the names cvrtool uses.
const struct { const char* name; EnumFileVersion version; } kFormats[] = {
    {"1.02", FileVersionCVR_V0102},
    {"u1.02", FileVersionCVR_Vu102},
    {"e1.02", FileVersionCVR_Ve102},
    {"e1.01", FileVersionCVR_Ve101},
};

std::string format_name(EnumFileVersion version) {
  for (const auto& f : kFormats) {
    if (f.version == version) return f.name;
  }
  static const char* const kOthers[] = {"unknown", "e1.01", "1.00", "e1.00", "raw", "hex", "hex2"};
  const auto n = static_cast<size_t>(version);
  return n < std::size(kOthers) ? kOthers[n] : "FileVersion" + std::to_string(n);
}

std::uint64_t checked(const py::int_& value, const char* name, std::uint64_t max) {
  // Negative and over-large values raise a ValueError that names the argument.
  const py::object zero = py::int_(0), top = py::int_(max);
  if (value < zero || value > top) {
    throw py::value_error(std::string(name) + " must be in 0.." + std::to_string(max) + ", not " +
                          std::string(py::str(static_cast<py::handle>(value))));
  }
  return value.cast<std::uint64_t>();
}

// The bytes of a bytes-like object (or a str, as UTF-8) for writing.
struct Bytes {
  std::string text;  // keeps a str's encoding alive
  py::buffer_info info;
  std::span<const std::byte> span;
};
std::unique_ptr<Bytes> bytes_of(const py::object& data) {
  auto out = std::make_unique<Bytes>();
  if (py::isinstance<py::str>(data)) {
    out->text = data.cast<std::string>();
    out->span = std::as_bytes(std::span(out->text.data(), out->text.size()));
    return out;
  }
  if (!PyObject_CheckBuffer(data.ptr())) {
    throw py::type_error(std::string("data must be bytes-like or str, not ") +
                         Py_TYPE(data.ptr())->tp_name);
  }
  out->info = py::reinterpret_borrow<py::buffer>(data).request();
  if (!PyBuffer_IsContiguous(reinterpret_cast<const Py_buffer*>(out->info.view()), 'C')) {
    throw py::value_error("data must be a contiguous buffer");
  }
  const auto size = static_cast<size_t>(out->info.size * out->info.itemsize);
  if (size > std::numeric_limits<ULONG>::max()) throw py::value_error("data is longer than 4 GiB");
  out->span = std::span(static_cast<const std::byte*>(out->info.ptr), size);
  return out;
}

corvane::stamp stamp_of(const std::optional<py::int_>& time_ns, ULONGLONG* value) {
  *value = time_ns ? checked(*time_ns, "time_ns", std::numeric_limits<std::uint64_t>::max()) : 0;
  return time_ns ? corvane::stamp::given : corvane::stamp::now;
}

class Log {
 public:
  Log(const std::filesystem::path& path, const std::string& mode, const std::optional<std::string>& format,
      bool full_flush)
      : path_(path) {
    if (mode == "r") {
      if (format) throw py::value_error("format is for writing: a log is read in the format it has");
      reader_ = std::make_unique<corvane::reader>();
      py::gil_scoped_release unlocked;
      reader_->open(path);
      return;
    }
    if (mode != "w" && mode != "x") throw py::value_error("mode must be 'r', 'w' or 'x', not '" + mode + "'");
    EnumFileVersion version = FileVersionUnknown;
    for (const auto& f : kFormats) {
      if (format.value_or("1.02") == f.name) version = f.version;
    }
    if (version == FileVersionUnknown) {
      throw py::value_error("format must be '1.02', 'u1.02', 'e1.02' or 'e1.01', not '" + *format + "'");
    }
    recorder_ = std::make_unique<corvane::recorder>();
    py::gil_scoped_release unlocked;
    recorder_->open(path, version, mode == "w" ? FileAccessModeWriteCreateAlways : FileAccessModeWriteCreateNew,
                    full_flush);
  }

  ILogFile2* object() const {
    return reader_ ? reader_->object() : recorder_->object();
  }
  corvane::reader& reader() {
    idle();
    if (!reader_) throw py::value_error("the log is open for writing, not reading");
    return *reader_;
  }
  corvane::recorder& recorder() {
    idle();
    if (!recorder_) throw py::value_error("the log is open for reading, not writing");
    return *recorder_;
  }
  // A call that releases the GIL marks the log busy: another thread's call
  // fails rather than race with it.
  void idle() const {
    if (busy_) throw std::runtime_error("the log is in use by another thread");
  }
  struct Busy {
    explicit Busy(Log* log) : log_(log) { log_->idle(), log_->busy_ = true; }
    ~Busy() { log_->busy_ = false; }
    Log* log_;
  };

  void close() {
    idle();
    Busy hold(this);
    py::gil_scoped_release unlocked;
    if (reader_) reader_->close();
    if (recorder_) recorder_->close();
  }

  // ---- Reading ----

  // Reads the next record through the reader's iterator (which reads as it
  // is made); null at the end of the log. The record lives in the reader
  // until the next read.
  static const corvane::record* read_one(corvane::reader& in) {
    auto it = in.begin();
    return it == in.end() ? nullptr : &*it;
  }

  py::object next() {
    const corvane::record* r = read_one(reader());
    if (!r) throw py::stop_iteration();
    return make_record(*r);
  }

  py::object make_record(const corvane::record& r) {
    pos_ = r.number() + 1;
    PyObject* out = PyStructSequence_New(g_record_type);
    if (!out) throw py::error_already_set();
    PyStructSequence_SET_ITEM(out, 0, PyLong_FromLong(r.block_id()));
    PyStructSequence_SET_ITEM(out, 1, PyLong_FromLong(r.connection()));
    PyStructSequence_SET_ITEM(out, 2, PyLong_FromUnsignedLongLong(r.time_stamp()));
    PyObject* kind = r.is_bookmark() ? g_kind_bookmark : g_kind_message;
    Py_INCREF(kind);
    PyStructSequence_SET_ITEM(out, 3, kind);
    PyStructSequence_SET_ITEM(out, 4, PyLong_FromLongLong(r.number()));
    PyStructSequence_SET_ITEM(out, 5, PyBytes_FromStringAndSize(reinterpret_cast<const char*>(r.data().data()),
                                                                 static_cast<Py_ssize_t>(r.size())));
    PyStructSequence_SET_ITEM(out, 6, PyLong_FromLong(r.time_stamp_mode()));
    return py::reinterpret_steal<py::object>(out);
  }

  void jump(std::int64_t number) {
    corvane::reader& in = reader();
    ensure_index();
    in.jump(number);
    pos_ = number;
  }

  // The index, built once when the log has none and a call needs it.
  void ensure_index() {
    if (indexed_) return;
    LONGLONG count = 0;
    corvane::check(object()->GetIndexedRecCount(&count));
    if (count > 0) {
      indexed_ = true;
      return;
    }
    index(py::none(), 100);
  }
  std::int64_t index(const py::object& progress, LONGLONG resolution) {
    corvane::reader& in = reader();
    if (resolution <= 0) throw py::value_error("resolution must be positive");
    std::function<void(int)> report;
    if (!progress.is_none()) {
      if (!PyCallable_Check(progress.ptr())) throw py::type_error("progress must be callable or None");
      report = [&progress](int percent) {
        py::gil_scoped_acquire locked;
        progress(percent);
      };
    }
    Busy hold(this);
    std::int64_t count;
    {
      py::gil_scoped_release unlocked;
      count = in.index(report, resolution);
    }
    indexed_ = true;
    return count;
  }

  std::int64_t length() {
    reader();
    ensure_index();
    LONGLONG count = 0;
    corvane::check(object()->GetIndexedRecCount(&count));
    return count;
  }

  py::object item(std::int64_t number) {
    const std::int64_t count = length();
    if (number < 0) number += count;
    if (number < 0 || number >= count) throw py::index_error("message number out of range");
    const std::int64_t back = pos_;
    corvane::reader& in = reader();
    in.jump(number);
    const corvane::record* r = read_one(in);
    if (!r) throw py::index_error("message number out of range");
    py::object out = make_record(*r);
    // Iteration goes on where it was.
    if (back < count) {
      in.jump(back);
    } else {
      in.jump(count - 1);
      in.next();
    }
    pos_ = back;
    return out;
  }

  // The time stamp of the first message (bookmarks skipped) from `number`
  // on; the largest stamp past the end.
  std::uint64_t stamp_from(corvane::reader& in, std::int64_t number) {
    in.jump(number);
    while (const corvane::record* r = read_one(in)) {
      if (!r->is_bookmark()) return r->time_stamp();
    }
    return std::numeric_limits<std::uint64_t>::max();
  }

  py::object read_batch(std::optional<std::int64_t> start, std::int64_t count, std::optional<py::int_> since,
                        std::optional<py::int_> until) {
    corvane::reader& in = reader();
    if (count < 0) throw py::value_error("count must not be negative");
    if (start && since) throw py::value_error("start and since exclude each other");
    if (start && *start < 0) throw py::value_error("start must not be negative");
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    // Plain values beside the flags: GCC 12 takes optionals of integers
    // here for possibly uninitialised.
    const std::uint64_t from = since ? checked(*since, "since", max) : 0;
    const std::uint64_t to = until ? checked(*until, "until", max) : max;
    if (start || since || until) ensure_index();

    py::array_t<BatchRow> rows(static_cast<py::ssize_t>(count));
    BatchRow* row = rows.mutable_data();
    std::vector<std::uint8_t>& data = batch_data_;  // its capacity stays for the next batch
    data.clear();
    std::int64_t n = 0;
    {
      Busy hold(this);
      py::gil_scoped_release unlocked;
      if (since) {
        // Bisection over jump: the stamps rise with the message numbers.
        LONGLONG lo = 0, hi = 0;
        corvane::check(object()->GetIndexedRecCount(&hi));
        while (lo < hi) {
          const LONGLONG mid = lo + (hi - lo) / 2;
          if (stamp_from(in, mid) < from) lo = mid + 1; else hi = mid;
        }
        start = lo;
      }
      if (start) {
        LONGLONG total = 0;
        corvane::check(object()->GetIndexedRecCount(&total));
        if (*start < total) in.jump(*start); else if (total > 0) in.jump(total - 1), in.next();
        pos_ = std::min<std::int64_t>(*start, total);
      }
      for (const corvane::record* next; n < count && (next = read_one(in));) {
        const corvane::record& r = *next;
        if (until && !r.is_bookmark() && r.time_stamp() >= to) {
          in.jump(r.number());  // the record stays the next one to read
          break;
        }
        const auto bytes = reinterpret_cast<const std::uint8_t*>(r.data().data());
        row[n] = {r.number(), r.time_stamp(), data.size(), r.size(), r.block_id(), r.connection(),
                  r.time_stamp_mode()};
        const size_t at = data.size();
        if (data.capacity() < at + r.size()) data.reserve(2 * (at + r.size()));
        data.resize(at + r.size());
        if (r.size()) std::memcpy(data.data() + at, bytes, r.size());
        pos_ = r.number() + 1;
        ++n;
      }
    }
    rows.resize({static_cast<py::ssize_t>(n)});
    py::array_t<std::uint8_t> flat(static_cast<py::ssize_t>(data.size()));
    if (!data.empty()) std::memcpy(flat.mutable_data(), data.data(), data.size());
    return (*g_batch_type)(rows, flat);
  }

  py::dict info() {
    idle();
    ILogFile2* log = object();
    LONGLONG size = 0, position = 0, indexed = 0, resolution = 0, bookmarks = 0;
    corvane::check(log->GetFileSize(&size));
    corvane::check(log->GetFilePointerPos(&position));
    corvane::check(log->GetIndexedRecCount(&indexed));
    corvane::check(log->GetIndexResolution(&resolution));
    corvane::check(log->GetBookmarkCount(&bookmarks));
    py::dict out;
    out["path"] = path_.string();
    out["mode"] = reader_ ? "r" : "w";
    out["format"] = format_name(reader_ ? reader_->version() : recorder_->version());
    out["size"] = size;
    out["position"] = position;
    out["indexed_records"] = indexed;
    out["index_resolution"] = resolution;
    out["bookmarks"] = bookmarks;
    out["next_message"] = pos_;
    return out;
  }

  // ---- Writing ----

  void write(const py::int_& block_id, const py::int_& connection, const py::object& data,
             const std::optional<py::int_>& time_ns) {
    corvane::recorder& out = recorder();
    const auto id = static_cast<USHORT>(checked(block_id, "block_id", 0xFFFF));
    const auto conn = static_cast<BYTE>(checked(connection, "connection", 0xFF));
    ULONGLONG stamp = 0;
    const corvane::stamp mode = stamp_of(time_ns, &stamp);
    const auto bytes = bytes_of(data);
    out.write(id, conn, bytes->span, mode, stamp);
  }
  void write_bulk(const py::int_& connection, const py::object& data, const py::int_& messages,
                  const std::optional<py::int_>& time_ns) {
    corvane::recorder& out = recorder();
    const auto conn = static_cast<BYTE>(checked(connection, "connection", 0xFF));
    const auto count = static_cast<ULONG>(checked(messages, "messages", 0xFFFFFFFFu));
    ULONGLONG stamp = 0;
    const corvane::stamp mode = stamp_of(time_ns, &stamp);
    const auto bytes = bytes_of(data);
    out.write_bulk(conn, bytes->span, count, mode, stamp);
  }
  void flush() {
    corvane::recorder& out = recorder();
    Busy hold(this);
    py::gil_scoped_release unlocked;
    out.flush();
  }

  // ---- Bookmarks ----

  std::int64_t bookmark_count() {
    idle();
    LONGLONG count = 0;
    corvane::check(object()->GetBookmarkCount(&count));
    return count;
  }
  // Selects bookmark `i` (negative from the end) for BookmarkRead, Edit or Delete.
  std::int64_t select_bookmark(std::int64_t i) {
    const std::int64_t count = bookmark_count();
    if (i < 0) i += count;
    if (i < 0 || i >= count) throw py::index_error("bookmark index out of range");
    corvane::check(object()->BookmarkJump(i));
    return i;
  }
  py::object bookmark(std::int64_t i) {
    i = select_bookmark(i);
    LONGLONG number = 0;
    corvane::bstr comment;
    corvane::check(object()->GetBookmarkBlockNumber(i, &number));
    corvane::check(object()->BookmarkRead(comment.put()));
    return (*g_bookmark_type)(number, py::str(comment.str()));
  }
  py::list bookmarks() {
    py::list out;
    for (std::int64_t i = 0, n = bookmark_count(); i < n; ++i) out.append(bookmark(i));
    return out;
  }
  void edit_bookmark(std::int64_t i, const std::string& comment) {
    select_bookmark(i);
    corvane::check(object()->BookmarkEdit(corvane::bstr(comment).get()));
  }
  void delete_bookmark(std::int64_t i) {
    select_bookmark(i);
    corvane::check(object()->BookmarkDelete());
  }
  // InsertBookmark checks the number against the record count, which a log
  // being read knows from its index.
  void insert_bookmark(std::int64_t number, const std::string& comment) {
    idle();
    if (reader_) ensure_index();
    corvane::check(object()->InsertBookmark(number, corvane::bstr(comment).get()));
  }
  void append_bookmark(const std::string& comment) { recorder().write_bookmark(comment); }

 private:
  std::filesystem::path path_;
  std::unique_ptr<corvane::reader> reader_;
  std::unique_ptr<corvane::recorder> recorder_;
  std::int64_t pos_ = 0;  // the message number iteration reads next
  bool indexed_ = false;
  bool busy_ = false;
  std::vector<std::uint8_t> batch_data_;
};

}  // namespace

namespace {

// tp_iternext of Log: the per-record path, without pybind11's dispatch.
PyObject* log_iternext(PyObject* self) {
  try {
    Log& log = py::cast<Log&>(py::handle(self));
    const corvane::record* r = Log::read_one(log.reader());
    return r ? log.make_record(*r).release().ptr() : nullptr;  // null, no error: the end
  } catch (const corvane::Error& e) {
    set_error(e);
  } catch (py::error_already_set& e) {
    e.restore();
  } catch (const py::builtin_exception& e) {
    e.set_error();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  }
  return nullptr;
}

// corvane.Bookmarks: the list of a log's bookmarks, read and changed in place.
struct Bookmarks {
  py::object owner;  // keeps the Log alive
  Log& log() { return owner.cast<Log&>(); }
};

// A pure C++ pass over the log with the C++ layer's reader, for the
// benchmark's comparison: the number of records read.
std::int64_t read_all(const std::filesystem::path& path) {
  py::gil_scoped_release unlocked;
  corvane::reader in;
  in.open(path);
  std::int64_t n = 0;
  for (const auto& record : in) n += record.number() >= 0;
  return n;
}

}  // namespace

PYBIND11_MODULE(corvane, m) {
  m.doc() = "Read and write corvane trace logs: records, index, jumps, bookmarks and numpy batches.";
  py::module_ collections = py::module_::import("collections");
  PYBIND11_NUMPY_DTYPE(BatchRow, message_number, time_ns, offset, size, block_id, connection, stamp_mode);

  g_error = PyErr_NewExceptionWithDoc(
      "corvane.Error",
      "A failed call of the library: .code is the HRESULT (an unsigned number), .text the library's "
      "description, for example 'File creation failed;LOGFILE=0x80043002'.",
      PyExc_OSError, nullptr);
  m.add_object("Error", py::handle(g_error));
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const corvane::Error& e) {
      set_error(e);
    }
  });

  static PyStructSequence_Field fields[] = {
      {"block_id", "the block identifier (CVR_ID_...)"},
      {"connection", "the connection number, 0..255"},
      {"time_ns", "the time stamp (nanoseconds where the library stamped the block)"},
      {"kind", "'bookmark' for a bookmark, 'message' otherwise"},
      {"message_number", "the record's number, bookmarks counted, as jump() counts"},
      {"data", "the record's data"},
      {"stamp_mode", "the time stamp mode: 0 none, 1 given, 2 now, 3 now with a new time base"},
      {nullptr, nullptr}};
  static PyStructSequence_Desc desc = {"corvane.Record", "One record of a log.", fields, 7};
  g_record_type = PyStructSequence_NewType(&desc);
  if (!g_record_type) throw py::error_already_set();
  m.add_object("Record", py::handle(reinterpret_cast<PyObject*>(g_record_type)));
  g_kind_message = PyUnicode_InternFromString("message");
  g_kind_bookmark = PyUnicode_InternFromString("bookmark");

  g_bookmark_type = new py::object(collections.attr("namedtuple")("Bookmark", "message_number comment"));
  g_bookmark_type->attr("__doc__") = "A bookmark: the message number it stands at and its comment.";
  g_bookmark_type->attr("__module__") = "corvane";
  m.attr("Bookmark") = *g_bookmark_type;
  g_batch_type = new py::object(collections.attr("namedtuple")("Batch", "records data"));
  g_batch_type->attr("__doc__") =
      "records: a structured array (message_number, time_ns, offset, size, block_id, connection, "
      "stamp_mode); data: every record's data in one uint8 array, record i's at "
      "data[offset:offset + size].";
  g_batch_type->attr("__module__") = "corvane";
  m.attr("Batch") = *g_batch_type;
  m.attr("FORMATS") = py::make_tuple("1.02", "u1.02", "e1.02", "e1.01");

  py::class_<Bookmarks>(m, "Bookmarks", "The bookmarks of a log, in list order.")
      .def("__len__", [](Bookmarks& b) { return b.log().bookmark_count(); })
      .def("__getitem__", [](Bookmarks& b, std::int64_t i) { return b.log().bookmark(i); },
           "The bookmark at list position i (negative from the end); selects it.")
      .def("__iter__", [](Bookmarks& b) { return b.log().bookmarks().attr("__iter__")(); })
      .def("__setitem__", [](Bookmarks& b, std::int64_t i, const std::string& comment) {
             b.log().edit_bookmark(i, comment);
           }, "Replaces the comment of bookmark i.")
      .def("__delitem__", [](Bookmarks& b, std::int64_t i) { b.log().delete_bookmark(i); },
           "Deletes bookmark i.")
      .def("__repr__", [](Bookmarks& b) { return "Bookmarks(" + py::repr(b.log().bookmarks()).cast<std::string>() + ")"; })
      .def("select", [](Bookmarks& b, std::int64_t i) { b.log().select_bookmark(i); }, py::arg("index"),
           "Makes bookmark `index` the current one (BookmarkJump).")
      .def("add", [](Bookmarks& b, std::int64_t number, const std::string& comment) {
             b.log().insert_bookmark(number, comment);
           }, py::arg("message_number"), py::arg("comment"),
           "Puts a bookmark at `message_number` of a log being read (InsertBookmark); close() saves it.")
      .def("append", [](Bookmarks& b, const std::string& comment) { b.log().append_bookmark(comment); },
           py::arg("comment"), "Writes a bookmark before the next message of a log being written.");

  py::class_<Log> log(m, "Log", "An open log: iterate over it, index it, jump in it, read batches or write.");
  log.def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Log& l, py::object type, py::object, py::object) {
             try {
               l.close();
             } catch (const corvane::Error&) {
               if (type.is_none()) throw;  // a close failure never hides the body's exception
             }
             return false;
           })
      .def("close", &Log::close, "Writes out what is buffered, saves changed bookmarks and closes the log.")
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", &Log::next, "The next record (Record); StopIteration at the end.")
      .def("__len__", &Log::length, "The number of records, bookmarks counted (indexes the log if needed).")
      .def("__getitem__", &Log::item, py::arg("message_number"),
           "The record with this message number (through the index); iteration stays where it was.")
      .def("jump", &Log::jump, py::arg("message_number"), "Iteration continues at this message number.")
      .def("index", &Log::index, py::arg("progress") = py::none(), py::arg("resolution") = 100,
           "Builds the index and waits for it, calling progress(percent) as it goes; returns the record "
           "count.")
      .def("read_batch", &Log::read_batch, py::arg("start") = py::none(), py::arg("count") = 65536,
           py::kw_only(), py::arg("since") = py::none(), py::arg("until") = py::none(),
           "Up to `count` records from message `start` (default: where iteration is), or from the first "
           "stamped at or after `since` (found by bisection; the stamps must rise), stopping before the "
           "first stamped at or after `until`. Returns Batch(records, data); iteration continues after it.")
      .def("info", &Log::info, "Path, mode, format, size, position, index and bookmark counts.")
      .def_property_readonly("bookmarks", [](py::object self) { return Bookmarks{self}; },
                             "The bookmarks (corvane.Bookmarks).")
      .def("write", &Log::write, py::arg("block_id"), py::arg("connection"), py::arg("data"),
           py::arg("time_ns") = py::none(),
           "Writes one block; stamped now when time_ns is None, else with time_ns.")
      .def("write_bulk", &Log::write_bulk, py::arg("connection"), py::arg("data"), py::arg("messages"),
           py::arg("time_ns") = py::none(),
           "Writes one bulk block of `messages` messages laid out by the caller (each a 6-byte head whose "
           "last two bytes are the payload length, big-endian, then the payload; padded to 4 bytes except "
           "in 1.02 and e1.02).")
      .def("flush", &Log::flush, "Writes the buffered blocks to the file.");
  reinterpret_cast<PyTypeObject*>(log.ptr())->tp_iternext = log_iternext;

  m.def("open", [](const std::filesystem::path& path, const std::string& mode,
                   const std::optional<std::string>& format, bool full_flush) {
          return std::make_unique<Log>(path, mode, format, full_flush);
        },
        py::arg("path"), py::arg("mode") = "r", py::arg("format") = py::none(), py::arg("full_flush") = false,
        "Opens a log: mode 'r' reads any format the library reads; 'w' creates (replacing) and 'x' creates "
        "new, in format '1.02' (default), 'u1.02', 'e1.02' or 'e1.01'. Use it in a with statement.");
  m.def("_read_all", &read_all, py::arg("path"), "Reads every record with the C++ layer alone (benchmarks).");
}
