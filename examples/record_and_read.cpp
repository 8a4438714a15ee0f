// Records a small log with the C++ layer, reads it back, indexes it, jumps
// into it and lists its bookmarks.
//
//   record_and_read [FILE]      (default: example.cvr in the current directory)
#include <corvane/corvane.hpp>

#include <cstdio>
#include <string>

int main(int argc, char** argv) try {
  const std::filesystem::path path = argc > 1 ? argv[1] : "example.cvr";
  corvane::com_init com;  // CoInitializeEx on Windows, nothing elsewhere

  corvane::recorder out;
  out.open(path);  // generation 1.02, replacing an older log
  out.write(CVR_ID_COMMENT, 1, "recording starts");
  for (int i = 0; i < 500; ++i) {
    if (i == 250) out.write_bookmark("halfway");
    out.write(CVR_ID_QUIVOX_MSG, 2, "message " + std::to_string(i));
  }
  // A bulk block of two messages: each a 6-byte head ending in the payload
  // length (big-endian), then the payload.
  const unsigned char bulk[] = {0x1D, 0x10, 0, 0, 0, 2, 'h', 'i', 0x1D, 0x10, 0, 0, 0, 3, 'y', 'o', 'u'};
  out.write_bulk(3, std::as_bytes(std::span(bulk)), 2);
  out.close();

  corvane::reader in;
  in.open(path);
  long long records = 0, bytes = 0;
  for (const auto& record : in) {
    ++records;
    bytes += record.size();
  }
  std::printf("%s: %lld records, %lld bytes of data\n", path.string().c_str(), records, bytes);

  const long long indexed = in.index([](int percent) {
    std::printf("\rindexing %3d%%", percent);
    std::fflush(stdout);
  });
  std::printf("\nindexed %lld records\n", indexed);

  in.jump(251);
  for (const auto& record : in) {
    const std::string text(reinterpret_cast<const char*>(record.data().data()), record.size());
    std::printf("message %lld: block 0x%02x, connection %u, \"%s\"\n",
                static_cast<long long>(record.number()), record.block_id(), record.connection(), text.c_str());
    if (record.number() == 253) break;
  }
  for (const corvane::bookmark& mark : in.bookmarks()) {
    std::printf("bookmark at message %lld: %s\n", static_cast<long long>(mark.message_number),
                mark.comment.c_str());
  }
  in.close();
  return 0;
} catch (const corvane::Error& e) {
  std::fprintf(stderr, "error 0x%08x: %s\n", static_cast<unsigned>(e.code()), e.what());
  return 1;
}
