# libjpeg-turbo, compiled by this build from Debian's source package into a
# static library with its SIMD code (nasm):
#
#     plexa::jpeg    imported target: libjpeg.a plus jpeglib.h, jconfig.h,
#                    jmorecfg.h and jerror.h, built before anything linking it
#
# The DLL links it so that it needs no JPEG DLL beside it. Natively the code
# normally uses the distribution's libjpeg, built from this very source package;
# -DPLEXA_BUNDLED_JPEG=ON builds it here for Linux too, so that the fuzzers
# decode JPEG with exactly the code the DLL ships. Native compiler flags:
# PLEXA_JPEG_NATIVE_CFLAGS (a fuzz build adds e.g. -fsanitize=fuzzer-no-link
# there and configures with clang).
#
# The source is libjpeg-turbo 2.1.5, pinned below by its upstream tarball's
# SHA-256, as Debian bookworm ships it, with Debian's patch series applied:
# cmake/DebianSource.cmake fetches and verifies the newest Debian revision of
# it (the configure output and _deps/libjpeg-turbo/debian-revision.txt name
# it) from the mirror apt uses; PLEXA_DEBIAN_SOURCE_CACHE makes a copy for a
# machine without network.

include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/DebianSource.cmake)

set(PLEXA_JPEG_VERSION 2.1.5)
set(PLEXA_JPEG_ORIG_SHA256 254f3642b04e309fee775123133c6464181addc150499561020312ec61c1bf7c)
# Natively as well, bundled or not: the test of DebianSource.cmake checks the
# chain on these very files.
plexa_debian_source(NAME libjpeg-turbo VERSION ${PLEXA_JPEG_VERSION}
    ORIG_SHA256 ${PLEXA_JPEG_ORIG_SHA256}
    OUT_DIR PLEXA_JPEG_SOURCE_DIR OUT_REVISION PLEXA_JPEG_DEBIAN_REVISION)

if(NOT WIN32)
    option(PLEXA_BUNDLED_JPEG "Also build the DLL's libjpeg-turbo natively (target plexa::jpeg), for the fuzzers" OFF)
    if(NOT PLEXA_BUNDLED_JPEG)
        return()
    endif()
endif()

include(ExternalProject)

# In the package's own folder, which a new Debian revision empties.
set(_jpeg_root ${PLEXA_DEBIAN_WORK_DIR}/libjpeg-turbo)
set(_jpeg_build_dir ${_jpeg_root}/build)
set(_jpeg_install_dir ${_jpeg_root}/install)

find_program(PLEXA_NASM nasm)
if(NOT PLEXA_NASM)
    message(FATAL_ERROR "nasm not found: libjpeg-turbo's SIMD code needs it (tools/install-deps.sh installs it)")
endif()

# The library's own CMake build runs as a separate project, where the parent's
# $(MAKE) and its job slots are out of reach; it gets a job count of its own.
cmake_host_system_information(RESULT _jpeg_jobs QUERY NUMBER_OF_LOGICAL_CORES)

set(_jpeg_library "${_jpeg_install_dir}/lib/libjpeg.a")
set(_jpeg_headers jpeglib.h jmorecfg.h jerror.h)
list(TRANSFORM _jpeg_headers PREPEND "<SOURCE_DIR>/")
set(_jpeg_link_options "")

if(WIN32)
    set(_jpeg_platform_args "")
    if(CMAKE_TOOLCHAIN_FILE)
        get_filename_component(_jpeg_toolchain "${CMAKE_TOOLCHAIN_FILE}" ABSOLUTE BASE_DIR "${CMAKE_BINARY_DIR}")
        if(NOT EXISTS "${_jpeg_toolchain}")
            get_filename_component(_jpeg_toolchain "${CMAKE_TOOLCHAIN_FILE}" ABSOLUTE BASE_DIR "${CMAKE_SOURCE_DIR}")
        endif()
        list(APPEND _jpeg_platform_args "-DCMAKE_TOOLCHAIN_FILE=${_jpeg_toolchain}")
    endif()
    # The decoder reads strangers' files inside the DLL: it gets the DLL's
    # hardening, and the build's path maps (cmake/Win64.cmake).
    set(_jpeg_cflags "${PLEXA_EXTERNAL_CFLAGS}")
    # Upstream's Release: -O3 -DNDEBUG on top of the flags above.
    set(_jpeg_build_type Release)
else()
    # Empty: the project's own sanitizers, so that a test or fuzzer also finds
    # faults inside the decoder. A fuzz build sets its own flags here.
    set(PLEXA_JPEG_NATIVE_CFLAGS "" CACHE STRING "C flags for the native build of the bundled libjpeg-turbo (empty: -O2 -g and the project's sanitizers)")
    set(_jpeg_cflags "${PLEXA_JPEG_NATIVE_CFLAGS}")
    if(_jpeg_cflags STREQUAL "")
        set(_jpeg_cflags "-O2 -g")
        if(PLEXA_SANITIZE)
            list(JOIN PLEXA_SANITIZER_FLAGS " " _jpeg_sanitizers)
            # The arithmetic decoder (jdarith.c) shifts negative values left,
            # which UBSan would stop at on every arithmetic-coded file.
            string(APPEND _jpeg_cflags " ${_jpeg_sanitizers} -fno-sanitize=shift-base")
        endif()
    endif()
    # The library's instrumentation needs its runtimes in whatever links it.
    string(REGEX MATCHALL "-fsanitize=[^ ]+" _jpeg_link_options "${_jpeg_cflags}")
    set(_jpeg_platform_args "-DCMAKE_C_COMPILER=${CMAKE_C_COMPILER}" -DCMAKE_POSITION_INDEPENDENT_CODE=ON)
    # None: the flags above are the whole story, as with Debian's own build.
    set(_jpeg_build_type None)
endif()

# Its version string carries a build date: the source's (cmake/SourceDate.cmake),
# not the day it happened to be built.
string(TIMESTAMP _jpeg_build_date "%Y%m%d" UTC)

# A build folder configured with plain nasm would be wiped by CMake at the
# change and configured again without the toolchain: it starts afresh instead.
if(EXISTS "${_jpeg_build_dir}/CMakeCache.txt")
    file(STRINGS "${_jpeg_build_dir}/CMakeCache.txt" _jpeg_asm REGEX "^CMAKE_ASM_NASM_COMPILER:")
    if(NOT _jpeg_asm MATCHES "nasm-reproducible\\.sh$")
        file(REMOVE_RECURSE "${_jpeg_build_dir}" "${_jpeg_install_dir}" "${_jpeg_root}/stamp")
    endif()
endif()

ExternalProject_Add(plexa_libjpeg_turbo
    SOURCE_DIR "${PLEXA_JPEG_SOURCE_DIR}"
    BINARY_DIR "${_jpeg_build_dir}"
    INSTALL_DIR "${_jpeg_install_dir}"
    STAMP_DIR "${_jpeg_root}/stamp"
    TMP_DIR "${_jpeg_root}/tmp"
    DOWNLOAD_COMMAND ""
    UPDATE_COMMAND ""
    CMAKE_ARGS
        ${_jpeg_platform_args}
        -DCMAKE_SYSTEM_PROCESSOR=${CMAKE_SYSTEM_PROCESSOR}
        -DCMAKE_BUILD_TYPE=${_jpeg_build_type}
        -DBUILD=${_jpeg_build_date}
        "-DCMAKE_C_FLAGS=${_jpeg_cflags}"
        -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR>
        -DENABLE_SHARED=OFF
        -DENABLE_STATIC=ON
        -DWITH_SIMD=ON
        -DREQUIRE_SIMD=ON
        -DWITH_TURBOJPEG=OFF
        -DWITH_JAVA=OFF
        # nasm writes no build path into the objects (tools/nasm-reproducible.sh).
        -DCMAKE_ASM_NASM_COMPILER=${PROJECT_SOURCE_DIR}/tools/nasm-reproducible.sh
        # Its cmake_minimum_required(2.8.12) is refused outright by CMake 4.
        -DCMAKE_POLICY_VERSION_MINIMUM=3.5
        --no-warn-unused-cli
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target jpeg-static --parallel ${_jpeg_jobs}
    INSTALL_COMMAND
        ${CMAKE_COMMAND} -E make_directory <INSTALL_DIR>/lib <INSTALL_DIR>/include
        COMMAND ${CMAKE_COMMAND} -E copy_if_different <BINARY_DIR>/libjpeg.a <INSTALL_DIR>/lib/
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_jpeg_headers} <BINARY_DIR>/jconfig.h <INSTALL_DIR>/include/
    BUILD_BYPRODUCTS "${_jpeg_library}"
    LOG_CONFIGURE ON
    LOG_BUILD ON
    LOG_OUTPUT_ON_FAILURE ON
)

# The include folder must exist when the imported target is generated, which
# is before anything is built.
file(MAKE_DIRECTORY "${_jpeg_install_dir}/include" "${_jpeg_install_dir}/lib")
add_library(plexa::jpeg STATIC IMPORTED GLOBAL)
set_target_properties(plexa::jpeg PROPERTIES
    IMPORTED_LOCATION "${_jpeg_library}"
    INTERFACE_INCLUDE_DIRECTORIES "${_jpeg_install_dir}/include"
    INTERFACE_LINK_OPTIONS "${_jpeg_link_options}")
add_dependencies(plexa::jpeg plexa_libjpeg_turbo)
message(STATUS "libjpeg-turbo ${PLEXA_JPEG_VERSION} (Debian source ${PLEXA_JPEG_DEBIAN_REVISION}): static, SIMD, in ${_jpeg_install_dir}")
