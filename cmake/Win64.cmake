# Win64: the plug-in DLL, the reference host and the Wine test programs.

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The C and C++ runtimes are linked statically so that the DLL and the tools
# need nothing beyond Windows' own system DLLs.
set(PLEXA_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# The plug-in reads scene files and pictures that anyone may hand a user, so
# everything built here gets what mingw-w64 offers against memory faults:
# stack canaries and checked string and memory calls. Both need libssp, which
# -fstack-protector-strong at link time brings in, statically with -static.
# The PE flags ask Windows for ASLR with 64-bit entropy and a non-executable
# stack and heap (newer binutils set them by default; said here so an older
# linker cannot silently drop them). tests/release/hardening_test.sh checks
# the result.
set(PLEXA_HARDENING_COMPILE -fstack-protector-strong -D_FORTIFY_SOURCE=2)
set(PLEXA_HARDENING_LINK -fstack-protector-strong -Wl,--dynamicbase,--high-entropy-va,--nxcompat)
target_compile_options(plexa_core PRIVATE ${PLEXA_HARDENING_COMPILE})
add_compile_options(${PLEXA_HARDENING_COMPILE})
add_link_options(${PLEXA_HARDENING_LINK})
# The same bytes from any build folder: no build path in the code or in its
# debug information (source and build folder both read ".", so that a
# debugger finds the sources from a checkout), and no link time in
# the PE headers (objcopy, which strips, writes SOURCE_DATE_EPOCH there).
set(PLEXA_PATH_MAPS "-ffile-prefix-map=${PROJECT_SOURCE_DIR}=." "-ffile-prefix-map=${CMAKE_BINARY_DIR}=.")
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:${PLEXA_PATH_MAPS}>")
target_compile_options(plexa_core PRIVATE ${PLEXA_PATH_MAPS})
add_link_options(-Wl,--no-insert-timestamp)
# The PE image version of every program and DLL linked here is the release's
# major and minor. CMake's rules would take each target's VERSION property,
# which also renames a program's file.
foreach(_plexa_rule IN ITEMS CMAKE_C_LINK_EXECUTABLE CMAKE_CXX_LINK_EXECUTABLE
        CMAKE_C_CREATE_SHARED_LIBRARY CMAKE_CXX_CREATE_SHARED_LIBRARY)
    string(REPLACE "<TARGET_VERSION_MAJOR>" "${PROJECT_VERSION_MAJOR}" ${_plexa_rule} "${${_plexa_rule}}")
    string(REPLACE "<TARGET_VERSION_MINOR>" "${PROJECT_VERSION_MINOR}" ${_plexa_rule} "${${_plexa_rule}}")
endforeach()

# What every library built here as an external project compiles with: the
# DLL's hardening and the path maps above (its folders lie inside this build).
list(JOIN PLEXA_HARDENING_COMPILE " " PLEXA_EXTERNAL_CFLAGS)
list(JOIN PLEXA_PATH_MAPS " " _plexa_maps)
string(APPEND PLEXA_EXTERNAL_CFLAGS " ${_plexa_maps}")

# libjpeg-turbo goes inside the DLL: no JPEG DLL to ship beside it.
include(${CMAKE_CURRENT_LIST_DIR}/LibjpegTurbo.cmake)
# The core's JPEG decoder is the same library the DLL ships.
target_link_libraries(plexa_core PUBLIC plexa::jpeg)
# And libpng with zlib, compiled here with the same hardening.
include(${CMAKE_CURRENT_LIST_DIR}/LibPng.cmake)
plexa_png_library(plexa_png)
target_link_libraries(plexa_core PUBLIC plexa_png)

# plexa_file_name(<target> <base variable> <file variable>)
#
# The name the linker gives the target's file, without and with its suffix,
# known at configure time (unlike $<TARGET_FILE_NAME>).
function(plexa_file_name target base_var file_var)
    get_target_property(base ${target} OUTPUT_NAME)
    if(NOT base)
        set(base ${target})
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
        set(${file_var} ${base}${CMAKE_SHARED_LIBRARY_SUFFIX} PARENT_SCOPE)
    else()
        set(${file_var} ${base}${CMAKE_EXECUTABLE_SUFFIX} PARENT_SCOPE)
    endif()
    set(${base_var} ${base} PARENT_SCOPE)
endfunction()

# plexa_version_resource(<target> <description>)
#
# A VERSIONINFO resource (what Explorer shows under Properties > Details)
# made from the project's version.
function(plexa_version_resource target description)
    plexa_file_name(${target} output_name PLEXA_VI_ORIGINAL_FILENAME)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
        set(PLEXA_VI_FILE_TYPE VFT_DLL)
    else()
        set(PLEXA_VI_FILE_TYPE VFT_APP)
    endif()
    set(PLEXA_VI_DESCRIPTION "${description}")
    set(PLEXA_VI_INTERNAL_NAME ${output_name})
    set(PLEXA_VI_COPYRIGHT "${PLEXA_COPYRIGHT}")
    set(rc ${CMAKE_BINARY_DIR}/resources/${output_name}-version.rc)
    configure_file(${PROJECT_SOURCE_DIR}/resources/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
endfunction()

add_library(plexa SHARED
    host/plugin_exports_win32.cpp
    host/command_window_win32.cpp
    host/file_commit_win32.cpp
    host/wide_names_win32.cpp
    host/shortcut_win32.cpp
    image/loaders_win32.cpp
    host/plexa.def
    resources/plexa.rc
)
set_target_properties(plexa PROPERTIES PREFIX "" OUTPUT_NAME plexa)
target_compile_options(plexa PRIVATE -Wall -Wextra -Wshadow)
target_link_libraries(plexa PRIVATE plexa_core plexa::jpeg opengl32 gdi32 user32 comdlg32 shell32 ${PLEXA_STATIC_RUNTIME})
plexa_version_resource(plexa "Plexa render plug-in")
# No import library is installed or needed: hosts load the DLL with LoadLibrary.

# plexa_split_debug_info(<target>)
#
# What ships is stripped; its debug information stays in the build as
# <file>.debug, named in the stripped file's .gnu_debuglink, so that gdb or
# winedbg can read a user's crash address against it. The linker also leaves
# a map, <file>.map, naming every library the file took code from: the
# notices test (tests/release/notices_test.sh) reads it.
function(plexa_split_debug_info target)
    if(NOT CMAKE_OBJCOPY)
        message(FATAL_ERROR "objcopy not found: the shipped files are stripped with it")
    endif()
    target_link_options(${target} PRIVATE "LINKER:-Map=$<TARGET_FILE:${target}>.map")
    # A build message cannot expand generator expressions: the name is made
    # here, as the linker will write it.
    plexa_file_name(${target} base file_name)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${PLEXA_SOURCE_DATE_EPOCH}
            ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}> $<TARGET_FILE_NAME:${target}>.debug
        COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${PLEXA_SOURCE_DATE_EPOCH}
            ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug
            $<TARGET_FILE_NAME:${target}>
        WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
        COMMENT "Stripping ${file_name}, debug information kept in ${file_name}.debug"
        VERBATIM)
endfunction()
plexa_split_debug_info(plexa)

add_subdirectory(tools)
add_subdirectory(tests/win)

include(${CMAKE_CURRENT_LIST_DIR}/Package.cmake)
