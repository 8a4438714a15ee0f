// A question of the indexing thread waits for its answer without the object
// lock: calls on the object go on while the box is open.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>

#include "logfile2/log_file2_test_util.h"
#include "platform/file.h"
#include "support/fault_file_system.h"

namespace corvane::test {
namespace {

// Holds the first box open until released; every box is answered Cancel.
struct HeldBox {
  std::promise<std::string> asked;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> first{true};

  static int STDMETHODCALLTYPE Show(const char* caption, const char*, unsigned, void* context) {
    auto* box = static_cast<HeldBox*>(context);
    if (box->first.exchange(false)) box->asked.set_value(caption);
    box->released.wait();
    return 2;  // Cancel
  }
};

TEST_F(LogFile2Test, CallsReturnWhileTheRebuildQuestionIsOpen) {
  const std::string path = dir_.File("q.log");
  ASSERT_TRUE(WriteLog(path, 50));
  OpenRead(path);
  ASSERT_EQ(log_->CreateIndex(10), S_OK);
  ASSERT_TRUE(WaitUntil([&] { LONGLONG count = 0; return log_->GetIndexedRecCount(&count) == S_OK && count == 50; }));

  // The rebuilt index cannot be renamed into place: the thread asks Retry
  // or Cancel.
  FaultFileSystem disk;
  disk.family = Call::kRename, disk.fault = Fault::kDenied, disk.sticky = true, disk.fail_at = 1;
  platform::ScopedFileSystemOverride use(&disk);
  HeldBox box;
  CorvaneSetMessageBoxHandler(&HeldBox::Show, &box);
  ASSERT_EQ(log_->CreateIndex(10), S_OK);
  EXPECT_EQ(box.asked.get_future().get(), "Indexing Error");

  LONGLONG size = 0, progress = 0;
  EXPECT_TRUE(log_->GetFileSize(&size) == S_OK && log_->GetIndexingProgress(&progress) == S_OK);
  EXPECT_TRUE(log_->Jump(30) == S_OK && NextIsNumbered(log_.get(), 30));

  box.release.set_value();
  EXPECT_EQ(log_->Close(), S_OK);  // joins the thread
  CorvaneSetMessageBoxHandler(nullptr, nullptr);
}

}  // namespace
}  // namespace corvane::test
