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
# The sources are libpng 1.6.39 (source package libpng1.6) and zlib 1.2.13
# (source package zlib, 1.2.13.dfsg), pinned below by their upstream
# tarballs' SHA-256, as Debian bookworm ships them, with Debian's patch series
# applied: cmake/DebianSource.cmake fetches and verifies the newest Debian
# revision of each (the configure output and _deps/<package>/debian-revision.txt
# name it) from the mirror apt uses; PLEXA_DEBIAN_SOURCE_CACHE makes a copy
# for a machine without network.

include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/DebianSource.cmake)

set(PLEXA_PNG_VERSION 1.6.39)
set(PLEXA_ZLIB_VERSION 1.2.13)
plexa_debian_source(NAME libpng1.6 VERSION ${PLEXA_PNG_VERSION}
    ORIG_SHA256 a00e9d2f2f664186e4202db9299397f851aea71b36a35e74910b8820e380d441
    OUT_DIR PLEXA_PNG_SOURCE_DIR OUT_REVISION PLEXA_PNG_DEBIAN_REVISION)
# Debian repacked zlib's tarball (1.2.13.dfsg) without the parts it does not
# ship; the pinned SHA-256 is of that tarball.
plexa_debian_source(NAME zlib VERSION ${PLEXA_ZLIB_VERSION}.dfsg
    ORIG_SHA256 71feb7947e3c00ef125f83b79a4e529bde31171e5babe48b391f06758d1ab0a1
    OUT_DIR PLEXA_ZLIB_SOURCE_DIR OUT_REVISION PLEXA_ZLIB_DEBIAN_REVISION)

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

message(STATUS "libpng ${PLEXA_PNG_VERSION} (Debian ${PLEXA_PNG_DEBIAN_REVISION}) and zlib "
    "${PLEXA_ZLIB_VERSION} (Debian ${PLEXA_ZLIB_DEBIAN_REVISION}): static, compiled by this build")
