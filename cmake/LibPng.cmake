# libpng and zlib, compiled by this build from Debian bookworm's source
# packages into static libraries:
#
#     plexa_png_library(<name> [OPTIONS <compile options>...])
#                    static libraries <name> (libpng, linking <name>_zlib) and
#                    <name>_zlib, compiled with the given options (sanitizers,
#                    coverage), headers png.h, pngconf.h, pnglibconf.h,
#                    zlib.h and zconf.h on <name>'s include path
#
# The DLL links them so that it needs no PNG or zlib DLL beside it; natively
# the tests, the fuzzers and the benchmarks compile the very same source with
# their own flags, so that what is tested and fuzzed is what ships.
#
# The sources are the versions pinned below, as Debian bookworm ships them,
# with Debian's patch series applied by dpkg-source: libpng 1.6.39 (source
# package libpng1.6) and zlib 1.2.13 (source package zlib, 1.2.13.dfsg).
# Their files come from the pool of the Debian mirror that apt already uses
# (PLEXA_DEBIAN_MIRROR overrides it; with neither the configure stops and
# says so). Each .dsc is checked against the SHA-256 pinned here, taken from
# the mirror's signed Sources index; the tarballs against the .dsc's own
# SHA-256 lines, the upstream tarball also against its pinned SHA-256. A
# folder named by PLEXA_DEBIAN_SOURCE_CACHE (cache variable or environment) is
# searched first and filled after a download, so that a machine without
# network can build from a copy:
#
#     cmake ... -DPLEXA_DEBIAN_SOURCE_CACHE=$HOME/plexa-sources
#
# or, by hand, with apt (a deb-src entry for bookworm needed):
#
#     cd ~/plexa-sources && apt-get source --download-only libpng1.6=1.6.39-2+deb12u5 zlib=1:1.2.13.dfsg-1

include_guard(GLOBAL)

set(PLEXA_PNG_VERSION 1.6.39)
set(PLEXA_ZLIB_VERSION 1.2.13)

set(PLEXA_DEBIAN_SOURCE_CACHE "$ENV{PLEXA_DEBIAN_SOURCE_CACHE}" CACHE PATH
    "Folder searched first for Debian source packages (and filled after a download)")
set(PLEXA_DEBIAN_MIRROR "$ENV{PLEXA_DEBIAN_MIRROR}" CACHE STRING
    "Debian mirror for source packages (empty: the one apt uses for bookworm)")

# The mirror apt fetches bookworm from, so that the source comes the way the
# machine's packages do (a local mirror or proxy included).
function(_plexa_png_mirror out_var)
    if(PLEXA_DEBIAN_MIRROR)
        set(${out_var} "${PLEXA_DEBIAN_MIRROR}" PARENT_SCOPE)
        return()
    endif()
    find_program(PLEXA_APT_GET apt-get)
    if(PLEXA_APT_GET)
        execute_process(
            COMMAND "${PLEXA_APT_GET}" indextargets --format "$(REPO_URI)" "Codename: bookworm" "Origin: Debian"
            OUTPUT_VARIABLE uris RESULT_VARIABLE rc ERROR_QUIET)
        if(rc EQUAL 0)
            string(REGEX MATCH "[^\n]+" first "${uris}")
            if(first)
                set(${out_var} "${first}" PARENT_SCOPE)
                return()
            endif()
        endif()
    endif()
    message(FATAL_ERROR "No Debian mirror for the source packages: apt's configuration names none for "
        "bookworm. Set PLEXA_DEBIAN_MIRROR (cache variable or environment) to one, or put the source files "
        "in a folder named by PLEXA_DEBIAN_SOURCE_CACHE (see cmake/LibPng.cmake).")
endfunction()

# Puts <name> into <dir>, checked against sha256: from the cache folder if it
# holds a good copy, else from the pool folder <pool> of the mirror.
function(_plexa_png_fetch dir pool name sha256)
    set(target "${dir}/${name}")
    foreach(candidate "${target}" "${PLEXA_DEBIAN_SOURCE_CACHE}/${name}")
        if(EXISTS "${candidate}" AND NOT candidate STREQUAL "/${name}")
            file(SHA256 "${candidate}" got)
            if(got STREQUAL sha256)
                if(NOT candidate STREQUAL target)
                    file(COPY_FILE "${candidate}" "${target}")
                endif()
                return()
            endif()
            message(WARNING "LibPng.cmake: ignoring ${candidate}: SHA-256 ${got}, expected ${sha256}")
        endif()
    endforeach()
    _plexa_png_mirror(mirror)
    string(REGEX REPLACE "/+$" "" mirror "${mirror}")
    set(url "${mirror}/${pool}/${name}")
    message(STATUS "Debian source: downloading ${url}")
    file(DOWNLOAD "${url}" "${target}.part" STATUS status TLS_VERIFY ON)
    list(GET status 0 code)
    if(NOT code EQUAL 0)
        file(REMOVE "${target}.part")
        message(FATAL_ERROR "Cannot download ${url}: ${status}\n"
            "Without network, put the source files in a folder named by PLEXA_DEBIAN_SOURCE_CACHE "
            "(see cmake/LibPng.cmake).")
    endif()
    file(SHA256 "${target}.part" got)
    if(NOT got STREQUAL sha256)
        file(REMOVE "${target}.part")
        message(FATAL_ERROR "${url}: SHA-256 ${got}, expected ${sha256}")
    endif()
    file(RENAME "${target}.part" "${target}")
    if(PLEXA_DEBIAN_SOURCE_CACHE)
        file(MAKE_DIRECTORY "${PLEXA_DEBIAN_SOURCE_CACHE}")
        file(COPY_FILE "${target}" "${PLEXA_DEBIAN_SOURCE_CACHE}/${name}")
    endif()
endfunction()

# _plexa_png_source(<out_var> <pool folder> <dsc> <dsc sha256> <orig sha256>)
#
# The patched source tree of one Debian source package, unpacked once into
# the build folder; the stamp names what the tree was made from, so that a
# change of source redoes it.
function(_plexa_png_source out_var pool dsc dsc_sha256 orig_sha256)
    string(REGEX REPLACE "\\.dsc$" "" base "${dsc}")
    set(root "${CMAKE_BINARY_DIR}/_deps/debian")
    set(tree "${root}/${base}")
    set(stamp_text "${dsc} ${dsc_sha256} ${orig_sha256}")
    set(found "")
    if(EXISTS "${tree}/.plexa-source-stamp")
        file(READ "${tree}/.plexa-source-stamp" found)
    endif()
    if(NOT found STREQUAL stamp_text)
        find_program(PLEXA_DPKG_SOURCE dpkg-source)
        if(NOT PLEXA_DPKG_SOURCE)
            message(FATAL_ERROR "dpkg-source not found: it unpacks Debian's source packages "
                "(package dpkg-dev; tools/install-deps.sh installs it)")
        endif()
        file(MAKE_DIRECTORY "${root}/files")
        _plexa_png_fetch("${root}/files" "${pool}" "${dsc}" "${dsc_sha256}")
        # Every file the .dsc lists, with the SHA-256 it gives.
        file(STRINGS "${root}/files/${dsc}" lines)
        set(in_sha256 OFF)
        set(orig_seen OFF)
        foreach(line IN LISTS lines)
            if(line MATCHES "^Checksums-Sha256:")
                set(in_sha256 ON)
            elseif(in_sha256 AND line MATCHES "^ ([0-9a-f]+) [0-9]+ ([^ ]+)$")
                set(part_sha256 ${CMAKE_MATCH_1})
                set(part ${CMAKE_MATCH_2})
                if(part MATCHES "\\.orig\\.tar")
                    if(NOT part_sha256 STREQUAL orig_sha256)
                        message(FATAL_ERROR "${dsc} names ${part} with SHA-256 ${part_sha256}, "
                            "not the pinned ${orig_sha256}")
                    endif()
                    set(orig_seen ON)
                endif()
                _plexa_png_fetch("${root}/files" "${pool}" "${part}" "${part_sha256}")
            else()
                set(in_sha256 OFF)
            endif()
        endforeach()
        if(NOT orig_seen)
            message(FATAL_ERROR "${dsc} names no upstream tarball")
        endif()
        # dpkg-source checks the files against the .dsc again and applies
        # debian/patches/series in order, as Debian's own build does.
        file(REMOVE_RECURSE "${tree}")
        execute_process(
            COMMAND "${PLEXA_DPKG_SOURCE}" --require-strong-checksums -x "${root}/files/${dsc}" "${tree}"
            WORKING_DIRECTORY "${root}/files"
            RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
        if(NOT rc EQUAL 0)
            message(FATAL_ERROR "dpkg-source -x ${dsc} failed (${rc}):\n${out}\n${err}")
        endif()
        file(WRITE "${tree}/.plexa-source-stamp" "${stamp_text}")
    endif()
    set(${out_var} "${tree}" PARENT_SCOPE)
endfunction()

_plexa_png_source(PLEXA_PNG_SOURCE_DIR pool/main/libp/libpng1.6 libpng1.6_1.6.39-2+deb12u5.dsc
    7b86211030a34deb6b0a2cd7e1d9db0fe92443fd30cab537fb89b1e7f7c9f188
    a00e9d2f2f664186e4202db9299397f851aea71b36a35e74910b8820e380d441)
_plexa_png_source(PLEXA_ZLIB_SOURCE_DIR pool/main/z/zlib zlib_1.2.13.dfsg-1.dsc
    3fa1e6b2fc525062aa88207dda52fed8e045373c809d362fe8a2bfbf7cf515a8
    71feb7947e3c00ef125f83b79a4e529bde31171e5babe48b391f06758d1ab0a1)
set(PLEXA_PNG_DEBIAN_VERSION 1.6.39-2+deb12u5)
set(PLEXA_ZLIB_DEBIAN_VERSION 1:1.2.13.dfsg-1)

# The public headers only, in a folder of their own: the source folders hold
# private headers whose names (crc32.h, trees.h) must not reach anything else.
# pnglibconf.h is upstream's prebuilt configuration: every standard feature.
set(_png_include "${CMAKE_BINARY_DIR}/_deps/png-include")
file(MAKE_DIRECTORY "${_png_include}")
foreach(header png.h pngconf.h)
    configure_file("${PLEXA_PNG_SOURCE_DIR}/${header}" "${_png_include}/${header}" COPYONLY)
endforeach()
configure_file("${PLEXA_PNG_SOURCE_DIR}/scripts/pnglibconf.h.prebuilt" "${_png_include}/pnglibconf.h" COPYONLY)
foreach(header zlib.h zconf.h)
    configure_file("${PLEXA_ZLIB_SOURCE_DIR}/${header}" "${_png_include}/${header}" COPYONLY)
endforeach()

set(_zlib_sources adler32.c compress.c crc32.c deflate.c infback.c inffast.c inflate.c inftrees.c trees.c
    uncompr.c zutil.c)
list(TRANSFORM _zlib_sources PREPEND "${PLEXA_ZLIB_SOURCE_DIR}/")
set(_png_sources png.c pngerror.c pngget.c pngmem.c pngpread.c pngread.c pngrio.c pngrtran.c pngrutil.c pngset.c
    pngtrans.c pngwio.c pngwrite.c pngwtran.c pngwutil.c)
# The SSE2 filters upstream's own build enables on x86-64.
list(APPEND _png_sources intel/intel_init.c intel/filter_sse2_intrinsics.c)
list(TRANSFORM _png_sources PREPEND "${PLEXA_PNG_SOURCE_DIR}/")

function(plexa_png_library name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "OPTIONS")
    add_library(${name}_zlib STATIC EXCLUDE_FROM_ALL ${_zlib_sources})
    add_library(${name} STATIC EXCLUDE_FROM_ALL ${_png_sources})
    # Named as their projects name them, in folders the notices check knows.
    set_target_properties(${name}_zlib PROPERTIES OUTPUT_NAME z
        ARCHIVE_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/_deps/zlib/${name}")
    set_target_properties(${name} PROPERTIES OUTPUT_NAME png16
        ARCHIVE_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/_deps/libpng/${name}")
    foreach(lib ${name}_zlib ${name})
        target_include_directories(${lib} BEFORE PUBLIC "${_png_include}")
        # Third-party code: its own warnings are its authors' business.
        target_compile_options(${lib} PRIVATE -w ${arg_OPTIONS})
        set_target_properties(${lib} PROPERTIES C_VISIBILITY_PRESET default POSITION_INDEPENDENT_CODE ON)
    endforeach()
    target_compile_definitions(${name} PRIVATE PNG_INTEL_SSE_OPT=1)
    target_link_libraries(${name} PUBLIC ${name}_zlib)
    string(REGEX MATCHALL "-fsanitize=[^;]+" sanitizers "${arg_OPTIONS}")
    string(REPLACE "fuzzer-no-link," "" sanitizers "${sanitizers}")
    target_link_options(${name}_zlib INTERFACE ${sanitizers})
endfunction()

message(STATUS "libpng ${PLEXA_PNG_VERSION} (Debian source ${PLEXA_PNG_DEBIAN_VERSION}) and zlib "
    "${PLEXA_ZLIB_VERSION} (Debian source ${PLEXA_ZLIB_DEBIAN_VERSION}): static, built here")
