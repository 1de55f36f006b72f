# Native Linux build of the core: tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, with OpenGL calls recorded instead of drawn.

# The fuzz preset builds the libFuzzer targets instead of the tests.
option(PLEXA_FUZZ "Build the libFuzzer targets (clang) instead of the tests" OFF)
if(PLEXA_FUZZ)
    include(${CMAKE_CURRENT_LIST_DIR}/Fuzz.cmake)
    return()
endif()

option(PLEXA_SANITIZE "Build the native code with ASan and UBSan" ON)
if(PLEXA_SANITIZE)
    set(PLEXA_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_compile_options(plexa_core PUBLIC ${PLEXA_SANITIZER_FLAGS})
    target_link_options(plexa_core PUBLIC ${PLEXA_SANITIZER_FLAGS})
endif()

# The core decodes JPEG: natively with the distribution's libjpeg-turbo, or,
# with PLEXA_BUNDLED_JPEG, with the very source the DLL links.
include(${CMAKE_CURRENT_LIST_DIR}/LibjpegTurbo.cmake)
if(PLEXA_BUNDLED_JPEG)
    set(PLEXA_JPEG_TARGET plexa::jpeg)
else()
    find_package(JPEG REQUIRED)
    set(PLEXA_JPEG_TARGET JPEG::JPEG)
endif()
target_link_libraries(plexa_core PUBLIC ${PLEXA_JPEG_TARGET})

# PNG: always the very libpng and zlib source the DLL links, here under the
# project's sanitizers (cmake/LibPng.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/LibPng.cmake)
plexa_png_library(plexa_png OPTIONS ${PLEXA_SANITIZER_FLAGS})
target_link_libraries(plexa_core PUBLIC plexa_png)

# The project's own sample images (tools/make-samples): the tests below make
# theirs in-process; the build also writes them into <build>/samples.
add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/tools/make-samples ${CMAKE_BINARY_DIR}/tools/make-samples)

find_package(GTest REQUIRED)
include(GoogleTest)

# Stands in for libGL: records every call the core makes.
add_library(plexa_gl_recorder STATIC tests/native/gl_recorder.cpp)
target_include_directories(plexa_gl_recorder PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(plexa_gl_recorder PUBLIC plexa_core)
target_compile_options(plexa_gl_recorder PRIVATE ${PLEXA_TEST_CODE_OPTIONS})

add_executable(plexa_native_tests
    tests/native/numeric_test.cpp
    tests/native/paths_test.cpp
    tests/native/scene_file_test.cpp
    tests/native/scene_test.cpp
    tests/native/instance_table_test.cpp
    tests/native/mesh_test.cpp
    tests/native/test_support.cpp
    tests/native/gl_expect.cpp
    tests/native/lists_test.cpp
    tests/native/transform_test.cpp
    tests/native/refresh_test.cpp
    tests/native/draw_test.cpp
    tests/native/fineness_test.cpp
    tests/native/bitmap_file_test.cpp
    tests/native/jpeg_decode_test.cpp
    tests/native/caches_test.cpp
    tests/native/skin_test.cpp
    tests/native/soak_test.cpp
)
target_compile_options(plexa_native_tests PRIVATE ${PLEXA_TEST_CODE_OPTIONS})
target_link_libraries(plexa_native_tests PRIVATE plexa_core plexa_gl_recorder plexa_sample_images GTest::gtest GTest::gtest_main)
# PngSuite and libpng's crashers, from the source the DLL links.
target_compile_definitions(plexa_native_tests PRIVATE PLEXA_PNG_SOURCE_DIR="${PLEXA_PNG_SOURCE_DIR}")
gtest_discover_tests(plexa_native_tests DISCOVERY_TIMEOUT 60)

# The chain that brings Debian's sources (cmake/DebianSource.cmake), offline,
# on the verified files this configure fetched for libjpeg-turbo.
add_test(NAME plexa_debian_source
    COMMAND ${CMAKE_COMMAND} -DFIXTURE=${PLEXA_DEBIAN_WORK_DIR}/debian
        -DSCRATCH=${CMAKE_BINARY_DIR}/debian_source_test -DORIG=${PLEXA_JPEG_ORIG_SHA256}
        -DMODULE=${CMAKE_CURRENT_LIST_DIR}/DebianSource.cmake
        -P ${CMAKE_SOURCE_DIR}/tests/native/debian_source_test.cmake)

# With PLEXA_BUNDLED_JPEG: the DLL's libjpeg-turbo built for Linux, and the
# same check of it that runs under Wine.
include(${CMAKE_CURRENT_LIST_DIR}/LibjpegTurbo.cmake)
if(PLEXA_BUNDLED_JPEG)
    add_executable(plexa_jpeg_bundled_test tests/win/jpeg_link_test.cpp)
    target_compile_definitions(plexa_jpeg_bundled_test PRIVATE PLEXA_EXPECTED_JPEG_VERSION="${PLEXA_JPEG_VERSION}")
    target_compile_options(plexa_jpeg_bundled_test PRIVATE -Wall -Wextra -Wshadow ${PLEXA_SANITIZER_FLAGS}
        ${PLEXA_TEST_CODE_OPTIONS})
    target_link_options(plexa_jpeg_bundled_test PRIVATE ${PLEXA_SANITIZER_FLAGS})
    target_link_libraries(plexa_jpeg_bundled_test PRIVATE plexa::jpeg GTest::gtest GTest::gtest_main)
    gtest_discover_tests(plexa_jpeg_bundled_test DISCOVERY_TIMEOUT 60)
endif()

# The same core drawn by real Mesa in an off-screen OSMesa context: pixels,
# blending and the state the passes leave. Its own program, since it links
# libOSMesa where the other tests link the recorder.
# Material scaling is checked here against Mesa's own libGLU.
find_library(PLEXA_OSMESA_LIBRARY OSMesa REQUIRED)
find_library(PLEXA_GLU_LIBRARY GLU REQUIRED)
add_executable(plexa_mesa_tests tests/native/mesa_test.cpp)
target_compile_options(plexa_mesa_tests PRIVATE ${PLEXA_TEST_CODE_OPTIONS})
target_link_libraries(plexa_mesa_tests PRIVATE plexa_core ${PLEXA_OSMESA_LIBRARY} ${PLEXA_GLU_LIBRARY}
    GTest::gtest GTest::gtest_main)
gtest_discover_tests(plexa_mesa_tests DISCOVERY_TIMEOUT 60)

# Benchmarks (Google Benchmark, against OSMesa): a program to run by hand, not a
# timed test. The sanitizers would distort the figures, so they get a plain
# build of the core. CTest only checks that it runs.
find_package(benchmark QUIET)
if(benchmark_FOUND)
    if(PLEXA_SANITIZE)
        add_library(plexa_core_plain STATIC ${PLEXA_CORE_SOURCES})
        target_include_directories(plexa_core_plain PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
        target_compile_options(plexa_core_plain PRIVATE -Wall -Wextra -Wshadow)
        plexa_png_library(plexa_png_plain)
        target_link_libraries(plexa_core_plain PUBLIC ${PLEXA_JPEG_TARGET} plexa_png_plain)
        set(PLEXA_BENCH_CORE plexa_core_plain)
    else()
        set(PLEXA_BENCH_CORE plexa_core)
    endif()
    # The sample encoder is compiled in rather than linked: its library carries
    # the sanitizers. GLU scales materials as the DLL's loader does.
    set(PLEXA_BENCH_SOURCES benchmarks/render_bench.cpp benchmarks/material_bench.cpp
        tools/make-samples/sample_images.cpp tools/make-samples/sample_png.cpp)
    add_executable(plexa_benchmarks ${PLEXA_BENCH_SOURCES})
    target_link_libraries(plexa_benchmarks PRIVATE ${PLEXA_BENCH_CORE} ${PLEXA_OSMESA_LIBRARY} ${PLEXA_GLU_LIBRARY}
        benchmark::benchmark)
    add_test(NAME plexa_benchmarks_run COMMAND plexa_benchmarks --benchmark_min_time=0.001)
    set_tests_properties(plexa_benchmarks_run PROPERTIES LABELS benchmark)

    # The same benchmarks over a core built with the DLL's hardening
    # (cmake/Win64.cmake), so that `tools/bench.sh --hardening` can put the
    # two side by side in one run. Not built by default.
    set(PLEXA_BENCH_HARDENING -fstack-protector-strong -D_FORTIFY_SOURCE=2)
    add_library(plexa_core_hardened STATIC EXCLUDE_FROM_ALL ${PLEXA_CORE_SOURCES})
    target_include_directories(plexa_core_hardened PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_compile_options(plexa_core_hardened PRIVATE -Wall -Wextra -Wshadow ${PLEXA_BENCH_HARDENING})
    plexa_png_library(plexa_png_hardened OPTIONS ${PLEXA_BENCH_HARDENING})
    target_link_libraries(plexa_core_hardened PUBLIC ${PLEXA_JPEG_TARGET} plexa_png_hardened)
    add_executable(plexa_benchmarks_hardened EXCLUDE_FROM_ALL ${PLEXA_BENCH_SOURCES})
    target_compile_options(plexa_benchmarks_hardened PRIVATE ${PLEXA_BENCH_HARDENING})
    target_link_options(plexa_benchmarks_hardened PRIVATE -fstack-protector-strong)
    target_link_libraries(plexa_benchmarks_hardened PRIVATE plexa_core_hardened ${PLEXA_OSMESA_LIBRARY}
        ${PLEXA_GLU_LIBRARY} benchmark::benchmark)
endif()
