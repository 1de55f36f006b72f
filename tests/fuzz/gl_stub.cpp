// OpenGL for the fuzz targets: nothing is drawn or kept, so the search spends
// its time in the reader rather than in recording calls. What would be an
// error in a real context stops the run: a list opened inside another, a list
// closed that was never opened, names used before they were made.
#include <cstdlib>

#include "render/gl.h"

namespace {
GLuint g_nextList = 1;
GLuint g_nextTexture = 1;
GLuint g_compiling = 0;

void require(bool condition) {
    if (!condition) std::abort();
}
}  // namespace

extern "C" {

GLuint glGenLists(GLsizei range) {
    require(range > 0);
    const GLuint base = g_nextList;
    g_nextList += static_cast<GLuint>(range);
    return base;
}
void glDeleteLists(GLuint list, GLsizei range) { require(list + static_cast<GLuint>(range) <= g_nextList); }
void glNewList(GLuint list, GLenum) {
    require(g_compiling == 0 && list != 0 && list < g_nextList);
    g_compiling = list;
}
void glEndList(void) {
    require(g_compiling != 0);
    g_compiling = 0;
}
void glCallList(GLuint list) { require(list < g_nextList); }
void glBegin(GLenum) {}
void glEnd(void) {}
void glVertex3f(GLfloat, GLfloat, GLfloat) {}
void glNormal3f(GLfloat, GLfloat, GLfloat) {}
void glTexCoord2f(GLfloat, GLfloat) {}
void glColor3fv(const GLfloat*) {}
void glShadeModel(GLenum) {}
void glBindTexture(GLenum, GLuint texture) { require(texture < g_nextTexture); }
void glGenTextures(GLsizei count, GLuint* names) {
    for (GLsizei i = 0; i < count; ++i) names[i] = g_nextTexture++;
}
void glDeleteTextures(GLsizei, const GLuint*) {}
void glTexParameteri(GLenum, GLenum, GLint) {}
void glTexImage2D(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void*) {}
void glEnable(GLenum) {}
void glDisable(GLenum) {}
void glBlendFunc(GLenum, GLenum) {}
void glTexGeni(GLenum, GLenum, GLint) {}
void glTexGenfv(GLenum, GLenum, const GLfloat*) {}

}  // extern "C"
