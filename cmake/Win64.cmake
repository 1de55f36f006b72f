# Win64: the plug-in DLL, the reference host and the Wine test programs.

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The C and C++ runtimes are linked statically so that the DLL and the tools
# need nothing beyond Windows' own system DLLs.
set(PLEXA_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# libjpeg-turbo goes inside the DLL: no JPEG DLL to ship beside it.
include(${CMAKE_CURRENT_LIST_DIR}/LibjpegTurbo.cmake)
# The core's JPEG decoder is the same library the DLL ships.
target_link_libraries(plexa_core PUBLIC plexa::jpeg)

add_library(plexa SHARED
    host/plugin_exports_win32.cpp
    host/command_window_win32.cpp
    host/file_commit_win32.cpp
    host/shortcut_win32.cpp
    image/loaders_win32.cpp
    host/plexa.def
    resources/plexa.rc
)
set_target_properties(plexa PROPERTIES PREFIX "" OUTPUT_NAME plexa)
target_compile_options(plexa PRIVATE -Wall -Wextra -Wshadow)
target_link_libraries(plexa PRIVATE plexa_core plexa::jpeg opengl32 glu32 gdi32 user32 comdlg32 shell32 ${PLEXA_STATIC_RUNTIME})
# No import library is installed or needed: hosts load the DLL with LoadLibrary.

add_subdirectory(tools)
add_subdirectory(tests/win)
