// The error log is the only record of what went wrong in a scene file, and mesh
// allocation failure must end cleanly rather than draw from a null array.
#include <gtest/gtest.h>

#include <string>

#include "geometry/numeric.h"
#include "tests/native/test_support.h"

namespace plexa::testing {
namespace {

using geometry::logError;

class LogTest : public InTempDir {};

TEST_F(LogTest, EachMessageIsATwoLineRecordAppendedToTheFile) {
    writeFile("error.txt", "earlier\n");
    logError("ERROR in ORG Coord");
    logError("line to long");
    EXPECT_EQ(readFile("error.txt"),
              "earlier\n"
              "[Numerical Recipes run-time error...]\nERROR in ORG Coord\n"
              "[Numerical Recipes run-time error...]\nline to long\n");
}

TEST_F(LogTest, LongMessagesAreCutToTheRecordLine) {
    EXPECT_EQ(geometry::logMessageRoom(), 105u);
    logError(std::string(105, 'a').c_str());
    logError(std::string(2000, 'b').c_str());
    const std::string prefix = "[Numerical Recipes run-time error...]\n";
    EXPECT_EQ(readFile("error.txt"),
              prefix + std::string(105, 'a') + "\n" + prefix + std::string(105, 'b') + "\n");
}

TEST_F(LogTest, NullMessageStillLeavesARecord) {
    logError(nullptr);
    EXPECT_EQ(readFile("error.txt"), "[Numerical Recipes run-time error...]\n\n");
}

TEST_F(LogTest, UnwritableLogIsSilent) {
    ASSERT_EQ(mkdir("error.txt", 0700), 0);  // a directory cannot be appended to
    logError("lost");
    SUCCEED();
}

TEST_F(LogTest, EmptyArrayIsValid) {
    geometry::MeshEntry* entries = geometry::s_matrix(0);
    EXPECT_NE(entries, nullptr);
    delete[] entries;
}

TEST_F(LogTest, ArrayHoldsItsEntries) {
    geometry::MeshEntry* entries = geometry::s_matrix(3);
    entries[2] = {1, 2, 3, 4};
    EXPECT_EQ(entries[2].w, 4.0f);
    delete[] entries;
}

TEST_F(LogTest, NegativeCountLogsAndFailsTheOneCall) {
    EXPECT_THROW(geometry::s_matrix(-1), geometry::AllocationFailure);
    EXPECT_EQ(readFile("error.txt"),
              "[Numerical Recipes run-time error...]\nallocation failure in s_matrix()\n");
}

}  // namespace
}  // namespace plexa::testing
