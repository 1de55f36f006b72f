#include "tests/native/gl_recorder.h"

#include <algorithm>
#include <sstream>

#include "render/gl.h"

namespace plexa::testing {

GlRecord& gl() {
    // Never destroyed: the library's own static objects delete their GL names
    // at exit, after this file's statics would be gone.
    static GlRecord* record = new GlRecord;
    return *record;
}

void resetGl() { gl() = GlRecord{}; }

void clearCalls() {
    gl().calls.clear();
    gl().counts.clear();
}

size_t countCalls(const std::string& name) {
    const auto found = gl().counts.find(name);
    return found == gl().counts.end() ? 0 : found->second;
}

const std::vector<GlCall>& listContents(uint32_t list) {
    static const std::vector<GlCall> empty;
    const auto found = gl().lists.find(list);
    return found == gl().lists.end() ? empty : found->second;
}

std::string toString(const GlCall& call) {
    std::ostringstream out;
    out.precision(9);
    out << call.name << '(';
    for (size_t i = 0; i < call.args.size(); ++i) out << (i ? ", " : "") << call.args[i];
    out << ')';
    return out.str();
}

namespace {

void record(const char* name, std::initializer_list<double> args) {
    GlRecord& r = gl();
    auto counted = r.counts.find(std::string_view(name));
    if (counted == r.counts.end()) counted = r.counts.emplace(name, 0).first;
    ++counted->second;
    if (!r.keepCalls) return;
    r.calls.push_back({name, args});
    if (r.compiling != 0) r.lists[r.compiling].push_back({name, args});
}

double d(double value) { return value; }

}  // namespace

}  // namespace plexa::testing

using plexa::testing::gl;
using plexa::testing::record;
using plexa::testing::d;

extern "C" {

GLuint glGenLists(GLsizei range) {
    const GLuint base = gl().nextList;
    gl().nextList += static_cast<GLuint>(range);
    for (GLsizei i = 0; i < range; ++i) gl().liveLists.insert(base + static_cast<GLuint>(i));
    gl().peakLiveLists = std::max(gl().peakLiveLists, gl().liveLists.size());
    record("glGenLists", {d(range)});
    return base;
}

void glDeleteLists(GLuint list, GLsizei range) {
    for (GLsizei i = 0; i < range; ++i) {
        gl().liveLists.erase(list + static_cast<GLuint>(i));
        gl().lists.erase(list + static_cast<GLuint>(i));
    }
    record("glDeleteLists", {d(list), d(range)});
}

void glNewList(GLuint list, GLenum mode) {
    record("glNewList", {d(list), d(mode)});
    gl().compiling = list;
    // A compilation replaces the list's previous contents.
    if (gl().keepCalls) gl().lists[list].clear();
}

void glEndList(void) {
    gl().compiling = 0;
    record("glEndList", {});
}

void glCallList(GLuint list) { record("glCallList", {d(list)}); }

void glBegin(GLenum mode) { record("glBegin", {d(mode)}); }
void glEnd(void) { record("glEnd", {}); }
void glVertex3f(GLfloat x, GLfloat y, GLfloat z) { record("glVertex3f", {x, y, z}); }
void glNormal3f(GLfloat x, GLfloat y, GLfloat z) { record("glNormal3f", {x, y, z}); }
void glTexCoord2f(GLfloat s, GLfloat t) { record("glTexCoord2f", {s, t}); }
void glColor3fv(const GLfloat* v) { record("glColor3fv", {v[0], v[1], v[2]}); }
void glShadeModel(GLenum mode) { record("glShadeModel", {d(mode)}); }
void glBindTexture(GLenum target, GLuint texture) { record("glBindTexture", {d(target), d(texture)}); }
void glGenTextures(GLsizei count, GLuint* names) {
    for (GLsizei i = 0; i < count; ++i) {
        names[i] = gl().nextTexture++;
        gl().liveTextures.insert(names[i]);
    }
    record("glGenTextures", {d(count)});
}
void glDeleteTextures(GLsizei count, const GLuint* names) {
    for (GLsizei i = 0; i < count; ++i) gl().liveTextures.erase(names[i]);
    record("glDeleteTextures", {d(count), count > 0 ? d(names[0]) : 0.0});
}
void glTexParameteri(GLenum target, GLenum name, GLint param) { record("glTexParameteri", {d(target), d(name), d(param)}); }
void glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height, GLint border,
                  GLenum format, GLenum type, const void*) {
    record("glTexImage2D", {d(target), d(level), d(internalFormat), d(width), d(height), d(border), d(format), d(type)});
}
void glEnable(GLenum cap) { record("glEnable", {d(cap)}); }
void glDisable(GLenum cap) { record("glDisable", {d(cap)}); }
void glBlendFunc(GLenum source, GLenum destination) { record("glBlendFunc", {d(source), d(destination)}); }
void glTexGeni(GLenum coord, GLenum name, GLint param) { record("glTexGeni", {d(coord), d(name), d(param)}); }
void glTexGenfv(GLenum coord, GLenum name, const GLfloat* params) {
    record("glTexGenfv", {d(coord), d(name), params[0], params[1], params[2], params[3]});
}

}  // extern "C"
