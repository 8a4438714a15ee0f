// Runs platform_child, the helper executable beside the tests, so that a
// test can act from a second process.
#ifndef CORVANE_TESTS_PLATFORM_CHILD_PROCESS_H_
#define CORVANE_TESTS_PLATFORM_CHILD_PROCESS_H_

#include <string>
#include <vector>

namespace corvane::test {

// Runs platform_child with the arguments and returns its exit code (-1 when
// it could not be run or did not exit normally).
int RunChild(const std::vector<std::string>& args);

}  // namespace corvane::test

#endif  // CORVANE_TESTS_PLATFORM_CHILD_PROCESS_H_
