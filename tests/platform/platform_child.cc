// A second process for the platform tests. Exit code: the Windows error
// code of the operation (0 for success), 255 for a usage error.
//
//   platform_child open PATH ACCESS SHARE DISPOSITION   open and close again
//   platform_child remove PATH
//   platform_child regwrite KEY PREFIX COUNT   values PREFIX0..PREFIXn = 0..n
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/file.h"
#include "platform/registry.h"

using namespace corvane;
using namespace corvane::platform;

namespace {

uint32_t Number(const char* s) { return static_cast<uint32_t>(std::strtoul(s, nullptr, 0)); }

int Code(Status s) { return s.ok() ? 0 : static_cast<int>(s.code() & 0xFF); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 255;
  const std::string op = argv[1];
  if (op == "open" && argc == 6) {
    std::unique_ptr<File> file;
    return Code(OpenFile(argv[2], {Number(argv[3]), Number(argv[4]), static_cast<Disposition>(Number(argv[5])), false},
                         &file));
  }
  if (op == "remove" && argc == 3) return Code(RemoveFile(argv[2]));
  if (op == "regwrite" && argc == 5) {
    const uint32_t count = Number(argv[4]);
    for (uint32_t i = 0; i < count; ++i) {
      Status s = registry::SetDword(Hive::kCurrentUser, argv[2], argv[3] + std::to_string(i), i);
      if (!s.ok()) return Code(s);
    }
    return 0;
  }
  return 255;
}
