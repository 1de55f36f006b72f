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
# The source is the one version pinned below: libjpeg-turbo 2.1.5 as Debian
# bookworm ships it (source package 1:2.1.5-2, the same the machine's
# libjpeg62-turbo is built from), with Debian's patch series applied by
# dpkg-source. Its three files come from the pool of the Debian mirror that
# apt already uses (PLEXA_DEBIAN_MIRROR overrides it). The .dsc is checked
# against the SHA-256 pinned here, which was taken from the mirror's signed
# Sources index; the tarballs against the .dsc's own SHA-256 lines. A folder
# named by PLEXA_JPEG_SOURCE_CACHE (cache variable or environment) is searched
# first and filled after a download, so that a machine without network can
# build from a copy:
#
#     cmake ... -DPLEXA_JPEG_SOURCE_CACHE=$HOME/plexa-sources
#
# or, by hand, with apt (a deb-src entry for bookworm needed):
#
#     cd ~/plexa-sources && apt-get source --download-only libjpeg-turbo=1:2.1.5-2

include_guard(GLOBAL)

if(NOT WIN32)
    option(PLEXA_BUNDLED_JPEG "Also build the DLL's libjpeg-turbo natively (target plexa::jpeg), for the fuzzers" OFF)
    if(NOT PLEXA_BUNDLED_JPEG)
        return()
    endif()
endif()

include(ExternalProject)

set(PLEXA_JPEG_VERSION 2.1.5)
set(_jpeg_debian_version 2.1.5-2)   # epoch 1, which file names leave out
set(_jpeg_pool_dir pool/main/libj/libjpeg-turbo)
set(_jpeg_dsc libjpeg-turbo_${_jpeg_debian_version}.dsc)
set(_jpeg_dsc_sha256 d718ead0dfbcbc8523665c02a7f7152e31039ded641d022868722623bb3b486d)

set(PLEXA_JPEG_SOURCE_CACHE "$ENV{PLEXA_JPEG_SOURCE_CACHE}" CACHE PATH
    "Folder searched first for libjpeg-turbo's Debian source files (and filled after a download)")
set(PLEXA_DEBIAN_MIRROR "$ENV{PLEXA_DEBIAN_MIRROR}" CACHE STRING
    "Debian mirror for libjpeg-turbo's source (empty: the one apt uses for bookworm)")

set(_jpeg_root ${CMAKE_BINARY_DIR}/_deps/libjpeg-turbo)
set(_jpeg_download_dir ${_jpeg_root}/debian)
set(PLEXA_JPEG_SOURCE_DIR ${_jpeg_root}/src/libjpeg-turbo-${_jpeg_debian_version})
set(_jpeg_build_dir ${_jpeg_root}/build)
set(_jpeg_install_dir ${_jpeg_root}/install)

# The mirror apt fetches bookworm from, so that the source comes the way the
# machine's packages do (a local mirror or proxy included).
function(_plexa_debian_mirror out_var)
    if(PLEXA_DEBIAN_MIRROR)
        set(${out_var} "${PLEXA_DEBIAN_MIRROR}" PARENT_SCOPE)
        return()
    endif()
    set(mirror "http://deb.debian.org/debian")
    find_program(PLEXA_APT_GET apt-get)
    if(PLEXA_APT_GET)
        execute_process(
            COMMAND "${PLEXA_APT_GET}" indextargets --format "$(REPO_URI)" "Codename: bookworm" "Origin: Debian"
            OUTPUT_VARIABLE uris RESULT_VARIABLE rc ERROR_QUIET)
        if(rc EQUAL 0)
            string(REGEX MATCH "[^\n]+" first "${uris}")
            if(first)
                set(mirror "${first}")
            endif()
        endif()
    endif()
    set(${out_var} "${mirror}" PARENT_SCOPE)
endfunction()

# Puts <name> into the download folder, checked against sha256: from the
# cache folder if it holds a good copy, else from the mirror.
function(_plexa_jpeg_fetch name sha256)
    set(target "${_jpeg_download_dir}/${name}")
    foreach(candidate "${target}" "${PLEXA_JPEG_SOURCE_CACHE}/${name}")
        if(EXISTS "${candidate}" AND NOT candidate STREQUAL "/${name}")
            file(SHA256 "${candidate}" got)
            if(got STREQUAL sha256)
                if(NOT candidate STREQUAL target)
                    file(COPY_FILE "${candidate}" "${target}")
                endif()
                return()
            endif()
            message(WARNING "LibjpegTurbo.cmake: ignoring ${candidate}: SHA-256 ${got}, expected ${sha256}")
        endif()
    endforeach()
    _plexa_debian_mirror(mirror)
    string(REGEX REPLACE "/+$" "" mirror "${mirror}")
    set(url "${mirror}/${_jpeg_pool_dir}/${name}")
    message(STATUS "libjpeg-turbo: downloading ${url}")
    file(DOWNLOAD "${url}" "${target}.part" STATUS status TLS_VERIFY ON)
    list(GET status 0 code)
    if(NOT code EQUAL 0)
        file(REMOVE "${target}.part")
        message(FATAL_ERROR "libjpeg-turbo: cannot download ${url}: ${status}\n"
            "Without network, put the source files in a folder named by PLEXA_JPEG_SOURCE_CACHE "
            "(see cmake/LibjpegTurbo.cmake).")
    endif()
    file(SHA256 "${target}.part" got)
    if(NOT got STREQUAL sha256)
        file(REMOVE "${target}.part")
        message(FATAL_ERROR "libjpeg-turbo: ${url}: SHA-256 ${got}, expected ${sha256}")
    endif()
    file(RENAME "${target}.part" "${target}")
    if(PLEXA_JPEG_SOURCE_CACHE)
        file(MAKE_DIRECTORY "${PLEXA_JPEG_SOURCE_CACHE}")
        file(COPY_FILE "${target}" "${PLEXA_JPEG_SOURCE_CACHE}/${name}")
    endif()
endfunction()

# Unpacks and patches once; the stamp names what the tree was made from, so a
# change of source redoes it.
set(_jpeg_stamp_text "${_jpeg_dsc} ${_jpeg_dsc_sha256}")
set(_jpeg_stamp "${PLEXA_JPEG_SOURCE_DIR}/.plexa-source-stamp")
set(_jpeg_stamp_found "")
if(EXISTS "${_jpeg_stamp}")
    file(READ "${_jpeg_stamp}" _jpeg_stamp_found)
endif()
if(NOT _jpeg_stamp_found STREQUAL _jpeg_stamp_text)
    find_program(PLEXA_DPKG_SOURCE dpkg-source)
    if(NOT PLEXA_DPKG_SOURCE)
        message(FATAL_ERROR "dpkg-source not found: it unpacks libjpeg-turbo's Debian source "
            "(package dpkg-dev; tools/install-deps.sh installs it)")
    endif()
    file(MAKE_DIRECTORY "${_jpeg_download_dir}")
    _plexa_jpeg_fetch(${_jpeg_dsc} ${_jpeg_dsc_sha256})
    # Every file the .dsc lists, with the SHA-256 it gives.
    file(STRINGS "${_jpeg_download_dir}/${_jpeg_dsc}" _jpeg_dsc_lines)
    set(_jpeg_in_sha256 OFF)
    set(_jpeg_parts "")
    foreach(_line IN LISTS _jpeg_dsc_lines)
        if(_line MATCHES "^Checksums-Sha256:")
            set(_jpeg_in_sha256 ON)
        elseif(_jpeg_in_sha256 AND _line MATCHES "^ ([0-9a-f]+) [0-9]+ ([^ ]+)$")
            _plexa_jpeg_fetch(${CMAKE_MATCH_2} ${CMAKE_MATCH_1})
            list(APPEND _jpeg_parts ${CMAKE_MATCH_2})
        else()
            set(_jpeg_in_sha256 OFF)
        endif()
    endforeach()
    if(NOT _jpeg_parts MATCHES "orig\\.tar" OR NOT _jpeg_parts MATCHES "debian\\.tar")
        message(FATAL_ERROR "${_jpeg_dsc} names no upstream and Debian tarball: ${_jpeg_parts}")
    endif()
    # dpkg-source checks the files against the .dsc again and applies
    # debian/patches/series in order, as Debian's own build does.
    file(REMOVE_RECURSE "${PLEXA_JPEG_SOURCE_DIR}")
    get_filename_component(_jpeg_src_parent "${PLEXA_JPEG_SOURCE_DIR}" DIRECTORY)
    file(MAKE_DIRECTORY "${_jpeg_src_parent}")
    execute_process(
        COMMAND "${PLEXA_DPKG_SOURCE}" --require-strong-checksums -x "${_jpeg_download_dir}/${_jpeg_dsc}"
                "${PLEXA_JPEG_SOURCE_DIR}"
        WORKING_DIRECTORY "${_jpeg_download_dir}"
        RESULT_VARIABLE _jpeg_rc OUTPUT_VARIABLE _jpeg_out ERROR_VARIABLE _jpeg_err)
    if(NOT _jpeg_rc EQUAL 0 OR NOT EXISTS "${PLEXA_JPEG_SOURCE_DIR}/jpeglib.h")
        message(FATAL_ERROR "dpkg-source -x ${_jpeg_dsc} failed (${_jpeg_rc}):\n${_jpeg_out}\n${_jpeg_err}")
    endif()
    # A new tree must not be built on an old configuration.
    file(REMOVE_RECURSE "${_jpeg_build_dir}" "${_jpeg_install_dir}" "${_jpeg_root}/stamp")
    file(WRITE "${_jpeg_stamp}" "${_jpeg_stamp_text}")
endif()

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
message(STATUS "libjpeg-turbo ${PLEXA_JPEG_VERSION} (Debian source ${_jpeg_debian_version}): static, SIMD, in ${_jpeg_install_dir}")
