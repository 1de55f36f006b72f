# libFuzzer targets (preset "fuzz"): clang, AddressSanitizer and
# UndefinedBehaviorSanitizer on the core, and the very libjpeg-turbo source
# the DLL links, built natively with coverage instrumentation
# (PLEXA_JPEG_NATIVE_CFLAGS), and so are libpng and zlib. No OpenGL: the core's calls go to a stub that
# only checks list and texture names. Run them with tools/fuzz.sh.

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "PLEXA_FUZZ needs clang (libFuzzer): configure with the 'fuzz' preset")
endif()

set(PLEXA_FUZZ_FLAGS -g -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
    -fno-omit-frame-pointer)
target_compile_options(plexa_core PUBLIC ${PLEXA_FUZZ_FLAGS})
target_link_options(plexa_core PUBLIC -fsanitize=address,undefined)

set(PLEXA_BUNDLED_JPEG ON CACHE BOOL "Also build the DLL's libjpeg-turbo natively" FORCE)
include(${CMAKE_CURRENT_LIST_DIR}/LibjpegTurbo.cmake)
set(PLEXA_JPEG_TARGET plexa::jpeg)
target_link_libraries(plexa_core PUBLIC plexa::jpeg)
# libpng and zlib as the DLL ships them, with the fuzzers' instrumentation.
include(${CMAKE_CURRENT_LIST_DIR}/LibPng.cmake)
plexa_png_library(plexa_png OPTIONS ${PLEXA_FUZZ_FLAGS})
target_link_libraries(plexa_core PUBLIC plexa_png)

add_library(plexa_gl_stub STATIC tests/fuzz/gl_stub.cpp)
target_link_libraries(plexa_gl_stub PUBLIC plexa_core)

# The seed corpora come from the sample generator.
add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/tools/make-samples ${CMAKE_BINARY_DIR}/tools/make-samples)

foreach(target scene_line scene_file bitmap_file jpeg_decode png_decode scale)
    add_executable(plexa_fuzz_${target} tests/fuzz/${target}_fuzzer.cpp)
    target_compile_options(plexa_fuzz_${target} PRIVATE -Wall -Wextra -Wshadow)
    target_link_libraries(plexa_fuzz_${target} PRIVATE plexa_core plexa_gl_stub)
    target_link_options(plexa_fuzz_${target} PRIVATE -fsanitize=fuzzer,address,undefined)
endforeach()
# The scaling target holds ours against Mesa's libGLU.
find_library(PLEXA_GLU_LIBRARY GLU REQUIRED)
target_link_libraries(plexa_fuzz_scale PRIVATE ${PLEXA_GLU_LIBRARY})
