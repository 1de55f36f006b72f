// A recording stand-in for libGL in the native tests: every call the core makes
// is kept so that tests can check what OpenGL would have received.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace plexa::testing {

struct GlCall {
    std::string name;
    std::vector<double> args;
};

struct GlRecord {
    std::vector<GlCall> calls;
    std::set<uint32_t> liveLists;   // names generated and not yet deleted
    uint32_t nextList = 1;
    uint32_t compiling = 0;         // the list between glNewList and glEndList
};

GlRecord& gl();
void resetGl();
size_t countCalls(const std::string& name);

}  // namespace plexa::testing
