// An empty log opened for reading by LogFile2 takes the generation the
// caller passes: a readable one (1 to 9) opens, and the first header read is
// the end of the file; any other value is refused. The file stays empty.
#include <corvane/corvane.h>
#include <gtest/gtest.h>

#include "support/com_test_util.h"
#include "support/temp_dir.h"

namespace corvane::test {
namespace {

TEST(EmptyLogTest, TakesTheCallersReadableGeneration) {
  const struct {
    int given;
    HRESULT open;
  } cases[] = {
      {0, E_CVR_FILE_HEADER_INFO_WRONG_VERSION},  {1, S_OK}, {2, S_OK}, {3, S_OK},
      {4, S_OK}, {5, S_OK}, {6, S_OK}, {7, S_OK}, {8, S_OK}, {9, S_OK},
      {10, E_CVR_FILE_HEADER_INFO_WRONG_VERSION}, {17, E_CVR_FILE_HEADER_INFO_WRONG_VERSION},
      {18, E_CVR_FILE_HEADER_INFO_WRONG_VERSION}, {-1, E_CVR_FILE_HEADER_INFO_WRONG_VERSION},
  };
  TempDir dir;
  const std::string path = dir.File("empty.log");
  WriteFileBytes(path, {});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.given);
    auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
    ASSERT_TRUE(log);
    auto version = static_cast<EnumFileVersion>(c.given);
    ASSERT_EQ(log->Open(Bstr(path).get(), FileAccessModeReadOnly, &version, 0), c.open);
    EXPECT_EQ(version, c.given);
    if (c.open == S_OK) {
      LogBlockHeader h{};
      ULONG returned = 0;
      LONG eof = 0;
      EXPECT_EQ(log->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &eof), S_OK);
      EXPECT_EQ(eof, 1);
      EXPECT_EQ(log->Close(), S_OK);
    }
    TakeError();
    EXPECT_EQ(FileSize(path), 0);
  }
}

}  // namespace
}  // namespace corvane::test
