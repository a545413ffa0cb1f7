// tests/golden_test.cc: frozen results of whole runs. Each scenario's answer
// file tests/fixtures/golden_NAME.txt is run through combosim, and its whole
// console output and report file, clock lines masked, must equal
// golden_NAME.expected and golden_NAME.results.expected to the last byte.
//
// A change that alters them changes the program's results and must be argued.
// To rewrite the expected files after such an argued change, run the tests
// with COMBOSIM_UPDATE_GOLDEN=1 in the environment.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/program_runner.h"

namespace {

using namespace programrunner;

class Golden : public ::testing::TestWithParam<const char*> {};

void compareorupdate(const fs::path& expectedfile, const std::string& actual) {
  if (std::getenv("COMBOSIM_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(expectedfile, std::ios::binary) << actual;
    return;
  }
  const std::string expected = readfile(expectedfile);
  ASSERT_FALSE(expected.empty()) << "missing " << expectedfile;
  EXPECT_EQ(actual, expected) << "differs from " << expectedfile;
}

TEST_P(Golden, OutputAndReportAreUnchanged) {
  const std::string name = GetParam();
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const ProgramRun run = runcombosim(
      dir.path(), sourcefile("tests/fixtures/golden_" + name + ".txt"));
  EXPECT_EQ(run.status, 0);
  compareorupdate(sourcefile("tests/fixtures/golden_" + name + ".expected"),
                  maskclock(run.out));
  compareorupdate(
      sourcefile("tests/fixtures/golden_" + name + ".results.expected"),
      maskclock(readfile(dir.path() / "results.txt")));
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Golden,
                         ::testing::Values("3x3", "1x1", "toxic", "2x4",
                                           "dialogue", "4x2"));

}  // namespace
