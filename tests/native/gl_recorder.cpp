#include "tests/native/gl_recorder.h"

#include <algorithm>

#include "render/gl.h"

namespace plexa::testing {

GlRecord& gl() {
    static GlRecord record;
    return record;
}

void resetGl() { gl() = GlRecord{}; }

size_t countCalls(const std::string& name) {
    const auto& calls = gl().calls;
    return static_cast<size_t>(std::count_if(calls.begin(), calls.end(),
                                              [&](const GlCall& call) { return call.name == name; }));
}

}  // namespace plexa::testing

using plexa::testing::gl;

extern "C" {

GLuint glGenLists(GLsizei range) {
    const GLuint base = gl().nextList;
    gl().nextList += static_cast<GLuint>(range);
    for (GLsizei i = 0; i < range; ++i) gl().liveLists.insert(base + static_cast<GLuint>(i));
    gl().calls.push_back({"glGenLists", {static_cast<double>(range)}});
    return base;
}

void glDeleteLists(GLuint list, GLsizei range) {
    for (GLsizei i = 0; i < range; ++i) gl().liveLists.erase(list + static_cast<GLuint>(i));
    gl().calls.push_back({"glDeleteLists", {static_cast<double>(list), static_cast<double>(range)}});
}

void glNewList(GLuint list, GLenum mode) {
    gl().compiling = list;
    gl().calls.push_back({"glNewList", {static_cast<double>(list), static_cast<double>(mode)}});
}

void glEndList(void) {
    gl().compiling = 0;
    gl().calls.push_back({"glEndList", {}});
}

}  // extern "C"

extern "C" void glCallList(GLuint list) {
    gl().calls.push_back({"glCallList", {static_cast<double>(list)}});
}
