#include "tests/native/test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/native/gl_recorder.h"

namespace plexa::testing {

void InTempDir::SetUp() {
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    previous_ = cwd;
    char pattern[] = "/tmp/plexa-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    resetGl();
}

void InTempDir::TearDown() {
    ASSERT_EQ(chdir(previous_.c_str()), 0);
    std::error_code ignored;
    // A test may have made the directory read-only; give it back before removal.
    chmod(dir_.c_str(), 0700);
    std::filesystem::remove_all(dir_, ignored);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary);
    out << contents;
}

bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

}  // namespace plexa::testing

#include "image/caches.h"

namespace plexa::testing {
void addCacheEntry(image::Cache& cache, const char* name, uint32_t id) {
    auto entry = image::makeEntry(name, 1, 1);
    entry->id = id;
    cache.append(std::move(entry));
}
}  // namespace plexa::testing
