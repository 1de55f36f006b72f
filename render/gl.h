// OpenGL 1.1 declarations for the core code without pulling in windows.h.
//
// mingw-w64's GL/gl.h includes windows.h unless the two calling-convention
// macros are already defined; defining them keeps scene/, geometry/ and render/
// free of Win32 while they still link against opengl32 in the DLL. Natively the
// same calls resolve to Mesa or to the tests' recording layer.
#pragma once

#if defined(_WIN32)
#ifndef APIENTRY
#define APIENTRY __stdcall
#endif
#ifndef WINGDIAPI
#define WINGDIAPI __declspec(dllimport)
#endif
#endif

#include <GL/gl.h>
