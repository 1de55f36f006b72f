// A recording stand-in for libGL in the native tests: every call the core makes
// is kept, with its arguments, so that tests can check what OpenGL would have
// received, call by call, and what each display list holds.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace plexa::testing {

struct GlCall {
    std::string name;
    std::vector<double> args;   // every argument, converted exactly to double

    bool operator==(const GlCall& other) const { return name == other.name && args == other.args; }
};

// "glVertex3f(0.5, -0.5, 0.5)", for failure messages.
std::string toString(const GlCall& call);

struct GlRecord {
    std::vector<GlCall> calls;                       // in order; only with keepCalls
    std::map<uint32_t, std::vector<GlCall>> lists;   // each list's latest contents; only with keepCalls
    std::map<std::string, size_t, std::less<>> counts;   // calls per name, always
    std::set<uint32_t> liveLists;   // names generated and not yet deleted
    size_t peakLiveLists = 0;       // the most alive at once
    std::set<uint32_t> liveTextures;   // texture names generated and not yet deleted
    uint32_t nextTexture = 1;
    uint32_t nextList = 1;
    uint32_t compiling = 0;         // the list between glNewList and glEndList
    // Off: only counts are kept, for meshes too large to keep every call of.
    bool keepCalls = true;
};

GlRecord& gl();
void resetGl();
// Forgets the calls and counts so far; lists and names are kept.
void clearCalls();
size_t countCalls(const std::string& name);
// The calls compiled into `list` by its latest glNewList (empty if none).
const std::vector<GlCall>& listContents(uint32_t list);

}  // namespace plexa::testing
