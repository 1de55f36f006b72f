# Native Linux build of the core: tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, with OpenGL calls recorded instead of drawn.

option(PLEXA_SANITIZE "Build the native code with ASan and UBSan" ON)
if(PLEXA_SANITIZE)
    set(PLEXA_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_compile_options(plexa_core PUBLIC ${PLEXA_SANITIZER_FLAGS})
    target_link_options(plexa_core PUBLIC ${PLEXA_SANITIZER_FLAGS})
endif()

find_package(GTest REQUIRED)
include(GoogleTest)

# Stands in for libGL: records every call the core makes.
add_library(plexa_gl_recorder STATIC tests/native/gl_recorder.cpp)
target_include_directories(plexa_gl_recorder PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(plexa_gl_recorder PUBLIC plexa_core)

add_executable(plexa_native_tests
    tests/native/numeric_test.cpp
    tests/native/paths_test.cpp
    tests/native/scene_file_test.cpp
    tests/native/scene_test.cpp
    tests/native/instance_table_test.cpp
    tests/native/mesh_test.cpp
    tests/native/test_support.cpp
)
target_link_libraries(plexa_native_tests PRIVATE plexa_core plexa_gl_recorder GTest::gtest GTest::gtest_main)
gtest_discover_tests(plexa_native_tests DISCOVERY_TIMEOUT 60)
