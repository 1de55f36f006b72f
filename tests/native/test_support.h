// Shared fixtures of the native tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace plexa::testing {

// Runs each test in a fresh empty directory (scene files and "error.txt" are
// written relative to the current directory), with a clean OpenGL record.
class InTempDir : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string dir_;
    std::string previous_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& contents);
bool fileExists(const std::string& path);

}  // namespace plexa::testing

namespace plexa::image {
class Cache;
}

namespace plexa::testing {
// Puts a named entry with the given id into a cache, as a load would.
void addCacheEntry(image::Cache& cache, const char* name, uint32_t id);
}  // namespace plexa::testing
