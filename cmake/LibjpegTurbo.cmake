# libjpeg-turbo, compiled by this build from source that the npm registry
# serves, into a static library with its SIMD code (nasm):
#
#     plexa::jpeg    imported target: libjpeg.a plus jpeglib.h, jconfig.h,
#                    jmorecfg.h and jerror.h, built before anything linking it
#
# The DLL links it so that it needs no JPEG DLL beside it. Natively the code
# normally uses the distribution's libjpeg; -DPLEXA_BUNDLED_JPEG=ON builds this
# same source for Linux too, so that the fuzzers decode JPEG with exactly the
# code the DLL ships. Native compiler flags: PLEXA_JPEG_NATIVE_CFLAGS (a fuzz
# build adds e.g. -fsanitize=fuzzer-no-link there and configures with clang).
#
# The tarball comes from `npm pack` and is checked against the registry's
# integrity value before anything in it is used. It is kept in the build tree;
# a folder named by PLEXA_JPEG_NPM_DIR (cache variable or environment) is
# searched first, so a machine without network can rebuild from a copy:
#
#     npm pack jpegtran-bin@7.0.0 --pack-destination ~/plexa-npm
#     cmake ... -DPLEXA_JPEG_NPM_DIR=$HOME/plexa-npm
#
# Two sources of libjpeg-turbo's own code are known (PLEXA_JPEG_SOURCE). 1.5.1,
# the default, is the newest found on the registries we can reach, a release
# (1.4.80 is a development snapshot), and complete: its tarball has the
# generated configure script that the native build runs. The npm copy of
# 1.4.80 lacks files that upstream's autotools need, so it builds for Windows
# only.

include_guard(GLOBAL)

if(NOT WIN32)
    option(PLEXA_BUNDLED_JPEG "Also build the DLL's libjpeg-turbo natively (target plexa::jpeg), for the fuzzers" OFF)
    if(NOT PLEXA_BUNDLED_JPEG)
        return()
    endif()
endif()

include(ExternalProject)

set(PLEXA_JPEG_SOURCE "libjpeg-turbo-1.5.1" CACHE STRING "Which libjpeg-turbo source to build (see cmake/LibjpegTurbo.cmake)")
set_property(CACHE PLEXA_JPEG_SOURCE PROPERTY STRINGS "libjpeg-turbo-1.5.1" "libjpeg-turbo-1.4.80")
set(PLEXA_JPEG_NPM_DIR "$ENV{PLEXA_JPEG_NPM_DIR}" CACHE PATH "Folder searched first for the npm tarball holding libjpeg-turbo's source")

# npm_package / npm_tarball / npm_integrity: the package, and its registry
# "integrity" (SRI: base64 of the SHA-512 of the .tgz).
# inner_tarball / inner_sha256: a release tarball carried inside the package,
# checked again because it is what we build (empty: the source is a folder).
# source_subdir: the source tree, inside the package (whose files npm puts
# under package/) or, when there is one, inside the inner tarball.
if(PLEXA_JPEG_SOURCE STREQUAL "libjpeg-turbo-1.5.1")
    # A wrapper whose install script we never run; we only take its copy of
    # the upstream release tarball.
    set(_jpeg_npm_package "jpegtran-bin@7.0.0")
    set(_jpeg_npm_tarball "jpegtran-bin-7.0.0.tgz")
    set(_jpeg_npm_integrity "sha512-8ecI4vXIV7eI2+nzRQsHAVaQVBGDotUY76CJZhlYaBAljBnK/509+sGGCs8eJyiS5N4tOcYZS+8Q4KgzorqlBA==")
    set(_jpeg_inner_tarball "package/vendor/source/libjpeg-turbo-1.5.1.tar.gz")
    set(_jpeg_inner_sha256 "41429d3d253017433f66e3d472b8c7d998491d2f41caa7306b8d9a6f2a2c666c")
    set(_jpeg_source_subdir "libjpeg-turbo-1.5.1")
    set(PLEXA_JPEG_VERSION 1.5.1)
elseif(PLEXA_JPEG_SOURCE STREQUAL "libjpeg-turbo-1.4.80")
    set(_jpeg_npm_package "jpeg-turbo@0.4.0")
    set(_jpeg_npm_tarball "jpeg-turbo-0.4.0.tgz")
    set(_jpeg_npm_integrity "sha512-pLzKt3I/QfcV1ey09MclMQjAAthd6uLjXkMvr3VkD4k1s+Q7eG7PsJdJqfgAeU38ZIHlIvSnYTqkY4vLkmiYbQ==")
    set(_jpeg_inner_tarball "")
    set(_jpeg_inner_sha256 "")
    set(_jpeg_source_subdir "package/deps/libjpeg-turbo")
    set(PLEXA_JPEG_VERSION 1.4.80)
else()
    message(FATAL_ERROR "PLEXA_JPEG_SOURCE: unknown source '${PLEXA_JPEG_SOURCE}'")
endif()

set(_jpeg_root ${CMAKE_BINARY_DIR}/_deps/libjpeg-turbo)
set(_jpeg_npm_cache ${_jpeg_root}/npm)
set(PLEXA_JPEG_SOURCE_DIR ${_jpeg_root}/src/${PLEXA_JPEG_SOURCE})
set(_jpeg_build_dir ${_jpeg_root}/build)
set(_jpeg_install_dir ${_jpeg_root}/install)

# npm states integrity in base64 and CMake hashes in hex; converting here keeps
# the value in this file byte for byte what `npm view <pkg> dist.integrity`
# prints, so it can be checked by eye, and needs no tool beyond CMake.
function(_plexa_hex_to_base64 hex out_var)
    set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
    string(LENGTH "${hex}" hex_len)
    set(result "")
    set(pos 0)
    while(pos LESS hex_len)
        math(EXPR left "${hex_len} - ${pos}")
        if(left GREATER 6)
            set(left 6)
        endif()
        string(SUBSTRING "${hex}" ${pos} ${left} chunk)
        math(EXPR pad_hex "6 - ${left}")
        string(REPEAT "0" ${pad_hex} zeros)
        math(EXPR value "0x${chunk}${zeros}")
        math(EXPR chars "${left} / 2 + 1")
        foreach(shift 18 12 6 0)
            if(chars GREATER 0)
                math(EXPR index "(${value} >> ${shift}) & 63")
                string(SUBSTRING "${alphabet}" ${index} 1 c)
                string(APPEND result "${c}")
            else()
                string(APPEND result "=")
            endif()
            math(EXPR chars "${chars} - 1")
        endforeach()
        math(EXPR pos "${pos} + 6")
    endwhile()
    set(${out_var} "${result}" PARENT_SCOPE)
endfunction()

function(_plexa_npm_integrity file out_var)
    file(SHA512 "${file}" hex)
    _plexa_hex_to_base64("${hex}" b64)
    set(${out_var} "sha512-${b64}" PARENT_SCOPE)
endfunction()

# The converter is checked on a known value first, so that a fault in it shows
# as such rather than as a tampered download.
_plexa_hex_to_base64("00ff10abcdef99" _jpeg_b64_probe)
if(NOT _jpeg_b64_probe STREQUAL "AP8Qq83vmQ==")
    message(FATAL_ERROR "LibjpegTurbo.cmake: hex to base64 conversion is broken (${_jpeg_b64_probe})")
endif()

# Returns in out_var the path of a verified tarball, packing one if needed.
function(_plexa_fetch_npm_tarball out_var)
    set(candidates "")
    if(PLEXA_JPEG_NPM_DIR)
        list(APPEND candidates "${PLEXA_JPEG_NPM_DIR}/${_jpeg_npm_tarball}")
    endif()
    list(APPEND candidates "${_jpeg_npm_cache}/${_jpeg_npm_tarball}")
    foreach(candidate IN LISTS candidates)
        if(EXISTS "${candidate}")
            _plexa_npm_integrity("${candidate}" got)
            if(got STREQUAL _jpeg_npm_integrity)
                set(${out_var} "${candidate}" PARENT_SCOPE)
                return()
            endif()
            message(WARNING "LibjpegTurbo.cmake: ignoring ${candidate}: integrity ${got}, expected ${_jpeg_npm_integrity}")
        endif()
    endforeach()

    find_program(PLEXA_NPM npm)
    if(NOT PLEXA_NPM)
        message(FATAL_ERROR "npm not found: it fetches libjpeg-turbo's source (tools/install-deps.sh installs it), "
            "or set PLEXA_JPEG_NPM_DIR to a folder holding ${_jpeg_npm_tarball}")
    endif()
    # A fresh folder: npm must not see a half-written tarball of an earlier
    # attempt, nor a package.json of ours.
    set(staging "${_jpeg_npm_cache}/staging")
    file(REMOVE_RECURSE "${staging}")
    file(MAKE_DIRECTORY "${staging}")
    message(STATUS "libjpeg-turbo: npm pack ${_jpeg_npm_package}")
    execute_process(
        COMMAND "${PLEXA_NPM}" pack "${_jpeg_npm_package}" --pack-destination "${staging}"
                --ignore-scripts --prefer-offline --no-fund --no-audit --loglevel=error
        WORKING_DIRECTORY "${staging}"
        RESULT_VARIABLE rc
        OUTPUT_VARIABLE out
        ERROR_VARIABLE err)
    set(packed "${staging}/${_jpeg_npm_tarball}")
    if(NOT rc EQUAL 0 OR NOT EXISTS "${packed}")
        message(FATAL_ERROR "npm pack ${_jpeg_npm_package} failed (${rc}):\n${out}\n${err}")
    endif()
    _plexa_npm_integrity("${packed}" got)
    if(NOT got STREQUAL _jpeg_npm_integrity)
        file(REMOVE "${packed}")
        message(FATAL_ERROR "npm pack ${_jpeg_npm_package}: integrity ${got}, expected ${_jpeg_npm_integrity}")
    endif()
    file(RENAME "${packed}" "${_jpeg_npm_cache}/${_jpeg_npm_tarball}")
    file(REMOVE_RECURSE "${staging}")
    set(${out_var} "${_jpeg_npm_cache}/${_jpeg_npm_tarball}" PARENT_SCOPE)
endfunction()

# Extracts and patches once; the stamp names what the tree was made from, so a
# change of source (or of the patch) redoes it.
set(_jpeg_stamp_text "${_jpeg_npm_integrity} ${_jpeg_inner_sha256} nsi-stub-1")
set(_jpeg_stamp "${PLEXA_JPEG_SOURCE_DIR}/.plexa-source-stamp")
set(_jpeg_stamp_found "")
if(EXISTS "${_jpeg_stamp}")
    file(READ "${_jpeg_stamp}" _jpeg_stamp_found)
endif()
if(NOT _jpeg_stamp_found STREQUAL _jpeg_stamp_text)
    _plexa_fetch_npm_tarball(_jpeg_tgz)
    set(_jpeg_unpack "${_jpeg_root}/unpack")
    file(REMOVE_RECURSE "${_jpeg_unpack}" "${PLEXA_JPEG_SOURCE_DIR}")
    file(ARCHIVE_EXTRACT INPUT "${_jpeg_tgz}" DESTINATION "${_jpeg_unpack}/npm")
    set(_jpeg_tree_root "${_jpeg_unpack}/npm")
    if(_jpeg_inner_tarball)
        set(_jpeg_inner "${_jpeg_unpack}/npm/${_jpeg_inner_tarball}")
        if(NOT EXISTS "${_jpeg_inner}")
            message(FATAL_ERROR "${_jpeg_npm_tarball} holds no ${_jpeg_inner_tarball}")
        endif()
        file(SHA256 "${_jpeg_inner}" _jpeg_inner_got)
        if(NOT _jpeg_inner_got STREQUAL _jpeg_inner_sha256)
            message(FATAL_ERROR "${_jpeg_inner_tarball}: SHA-256 ${_jpeg_inner_got}, expected ${_jpeg_inner_sha256}")
        endif()
        file(ARCHIVE_EXTRACT INPUT "${_jpeg_inner}" DESTINATION "${_jpeg_unpack}/inner")
        set(_jpeg_tree_root "${_jpeg_unpack}/inner")
    endif()
    if(NOT EXISTS "${_jpeg_tree_root}/${_jpeg_source_subdir}/jpeglib.h")
        message(FATAL_ERROR "no libjpeg-turbo source at ${_jpeg_source_subdir} in ${_jpeg_tgz}")
    endif()
    # Upstream's Windows configure step writes an installer script from this
    # template even when no installer is built; the npm copy of 1.4.80 lacks it.
    set(_jpeg_nsi "${_jpeg_tree_root}/${_jpeg_source_subdir}/release/libjpeg-turbo.nsi.in")
    if(NOT EXISTS "${_jpeg_nsi}")
        file(WRITE "${_jpeg_nsi}" "")
    endif()
    get_filename_component(_jpeg_src_parent "${PLEXA_JPEG_SOURCE_DIR}" DIRECTORY)
    file(MAKE_DIRECTORY "${_jpeg_src_parent}")
    file(RENAME "${_jpeg_tree_root}/${_jpeg_source_subdir}" "${PLEXA_JPEG_SOURCE_DIR}")
    file(REMOVE_RECURSE "${_jpeg_unpack}")
    # A new tree must not be built on an old configuration.
    file(REMOVE_RECURSE "${_jpeg_build_dir}" "${_jpeg_install_dir}" "${_jpeg_root}/stamp")
    file(WRITE "${_jpeg_stamp}" "${_jpeg_stamp_text}")
endif()

find_program(PLEXA_NASM nasm)
if(NOT PLEXA_NASM)
    message(FATAL_ERROR "nasm not found: libjpeg-turbo's SIMD code needs it (tools/install-deps.sh installs it)")
endif()

# Logged steps run through a script, where the parent's $(MAKE) and its job
# slots are out of reach; they get a job count of their own.
cmake_host_system_information(RESULT _jpeg_jobs QUERY NUMBER_OF_LOGICAL_CORES)

set(_jpeg_library "${_jpeg_install_dir}/lib/libjpeg.a")
set(_jpeg_headers jpeglib.h jmorecfg.h jerror.h)
list(TRANSFORM _jpeg_headers PREPEND "<SOURCE_DIR>/")
set(_jpeg_link_options "")

if(WIN32)
    # Up to 1.5, upstream's CMake build is the one for Windows (it refuses
    # other systems); it names its options ENABLE_*/WITH_* and nasm "NASM".
    set(_jpeg_toolchain "")
    if(CMAKE_TOOLCHAIN_FILE)
        get_filename_component(_jpeg_toolchain "${CMAKE_TOOLCHAIN_FILE}" ABSOLUTE BASE_DIR "${CMAKE_BINARY_DIR}")
        if(NOT EXISTS "${_jpeg_toolchain}")
            get_filename_component(_jpeg_toolchain "${CMAKE_TOOLCHAIN_FILE}" ABSOLUTE BASE_DIR "${CMAKE_SOURCE_DIR}")
        endif()
        set(_jpeg_toolchain "-DCMAKE_TOOLCHAIN_FILE=${_jpeg_toolchain}")
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
            ${_jpeg_toolchain}
            -DCMAKE_SYSTEM_PROCESSOR=${CMAKE_SYSTEM_PROCESSOR}
            -DCMAKE_BUILD_TYPE=Release
            -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR>
            -DENABLE_SHARED=OFF
            -DENABLE_STATIC=ON
            -DWITH_SIMD=ON
            -DWITH_TURBOJPEG=OFF
            -DWITH_JAVA=OFF
            -DNASM=${PLEXA_NASM}
            # The decoder reads strangers' files inside the DLL: it gets the
            # DLL's hardening (cmake/Win64.cmake).
            "-DCMAKE_C_FLAGS=${PLEXA_JPEG_WIN_CFLAGS}"
            # Its cmake_minimum_required(2.8) is refused outright by CMake 4.
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
else()
    # Up to 1.5, Unix builds go through upstream's autotools; the release
    # tarball carries the generated configure. The npm copy of 1.4.80 has
    # neither that nor all the files autoreconf would need.
    if(NOT EXISTS "${PLEXA_JPEG_SOURCE_DIR}/configure")
        message(FATAL_ERROR "${PLEXA_JPEG_SOURCE} builds only for Windows here (its source lacks a configure script); "
            "use PLEXA_JPEG_SOURCE=libjpeg-turbo-1.5.1")
    endif()
    find_program(PLEXA_MAKE NAMES gmake make REQUIRED)
    # Empty: the project's own sanitizers, so that a test or fuzzer also finds
    # faults inside the decoder. A fuzz build sets its own flags here.
    set(PLEXA_JPEG_NATIVE_CFLAGS "" CACHE STRING "C flags for the native build of the bundled libjpeg-turbo (empty: -O2 -g and the project's sanitizers)")
    set(_jpeg_cflags "${PLEXA_JPEG_NATIVE_CFLAGS}")
    if(_jpeg_cflags STREQUAL "")
        set(_jpeg_cflags "-O2 -g")
        if(PLEXA_SANITIZE)
            list(JOIN PLEXA_SANITIZER_FLAGS " " _jpeg_sanitizers)
            # 1.5.1 shifts negative values left (jdarith.c, the arithmetic
            # decoder), which UBSan stops at on every arithmetic-coded file.
            string(APPEND _jpeg_cflags " ${_jpeg_sanitizers} -fno-sanitize=shift-base")
        endif()
    endif()
    # The library's instrumentation needs its runtimes in whatever links it.
    string(REGEX MATCHALL "-fsanitize=[^ ]+" _jpeg_link_options "${_jpeg_cflags}")
    ExternalProject_Add(plexa_libjpeg_turbo
        SOURCE_DIR "${PLEXA_JPEG_SOURCE_DIR}"
        BINARY_DIR "${_jpeg_build_dir}"
        INSTALL_DIR "${_jpeg_install_dir}"
        STAMP_DIR "${_jpeg_root}/stamp"
        TMP_DIR "${_jpeg_root}/tmp"
        DOWNLOAD_COMMAND ""
        UPDATE_COMMAND ""
        CONFIGURE_COMMAND
            <SOURCE_DIR>/configure --prefix=<INSTALL_DIR>
                --disable-shared --enable-static --with-pic
                --with-simd --without-turbojpeg --without-java
                "CC=${CMAKE_C_COMPILER}" "CFLAGS=${_jpeg_cflags}" "NASM=${PLEXA_NASM}"
            # This step reruns when the compiler or flags change, and automake
            # would otherwise keep the objects made with the old ones.
            COMMAND ${PLEXA_MAKE} clean
        # Only the library. The SIMD folder's default goal is its convenience
        # library plus the generated nasm include that it needs, and the top
        # level's libjpeg.la rule knows how to make neither.
        BUILD_COMMAND ${PLEXA_MAKE} -j${_jpeg_jobs} -C simd
            COMMAND ${PLEXA_MAKE} -j${_jpeg_jobs} libjpeg.la
        INSTALL_COMMAND
            ${CMAKE_COMMAND} -E make_directory <INSTALL_DIR>/lib <INSTALL_DIR>/include
            COMMAND ${CMAKE_COMMAND} -E copy_if_different <BINARY_DIR>/.libs/libjpeg.a <INSTALL_DIR>/lib/
            COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_jpeg_headers} <BINARY_DIR>/jconfig.h <INSTALL_DIR>/include/
        BUILD_BYPRODUCTS "${_jpeg_library}"
        LOG_CONFIGURE ON
        LOG_BUILD ON
        LOG_OUTPUT_ON_FAILURE ON
    )
endif()

# The include folder must exist when the imported target is generated, which
# is before anything is built.
file(MAKE_DIRECTORY "${_jpeg_install_dir}/include" "${_jpeg_install_dir}/lib")
add_library(plexa::jpeg STATIC IMPORTED GLOBAL)
set_target_properties(plexa::jpeg PROPERTIES
    IMPORTED_LOCATION "${_jpeg_library}"
    INTERFACE_INCLUDE_DIRECTORIES "${_jpeg_install_dir}/include"
    INTERFACE_LINK_OPTIONS "${_jpeg_link_options}")
add_dependencies(plexa::jpeg plexa_libjpeg_turbo)
message(STATUS "libjpeg-turbo ${PLEXA_JPEG_VERSION} (${_jpeg_npm_package}): static, SIMD, in ${_jpeg_install_dir}")
