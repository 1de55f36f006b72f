# The chain of cmake/DebianSource.cmake on real, verified files (FIXTURE: the
# build's download folder), offline: each case copies them into a fresh cache,
# spoils some, and expects the message that names them.
cmake_minimum_required(VERSION 3.25)
if(DEFINED CASE_VERSION)
    include(${MODULE})
    plexa_debian_source(NAME libjpeg-turbo VERSION ${CASE_VERSION} ORIG_SHA256 ${ORIG} OUT_DIR dir OUT_REVISION revision)
    message(STATUS "unpacked ${revision} into ${dir}")
    return()
endif()

# name | upstream version | files to spoil (glob in the cache; -: to remove) | expected output
set(cases
    "offline from the cache|2.1.5||unpacked 1:2\\.1\\.5-"
    "corrupted tarball|2.1.5|*.orig.tar.*|orig\\.tar\\.[a-z]+: libjpeg-turbo_[^ ]+\\.dsc gives SHA-256"
    "dsc not in the index|2.1.5|*.dsc|\\.dsc: the Sources index of bookworm[-a-z]* gives SHA-256"
    "index not matching the signed Release|2.1.5|dists/bookworm/main/source/Sources.*|Sources\\.[a-z]+: the signed dists/bookworm/InRelease gives SHA-256"
    "Release altered after signing|2.1.5|dists/bookworm/InRelease|InRelease carries no good signature"
    "version in no index|2.1.4||no revision of libjpeg-turbo 2\\.1\\.4 in the Sources index"
    "no mirror and no index in the cache|2.1.5|-dists|no mirror for bookworm\\. Name one with PLEXA_DEBIAN_MIRROR")
set(failures "")
foreach(case IN LISTS cases)
    string(REPLACE "|" ";" case "${case}")
    list(GET case 0 name)
    list(GET case 1 version)
    list(GET case 2 spoil)
    list(GET case 3 expected)
    file(REMOVE_RECURSE "${SCRATCH}")
    file(COPY "${FIXTURE}/" DESTINATION "${SCRATCH}/cache")
    if(spoil MATCHES "^-(.*)")
        file(REMOVE_RECURSE "${SCRATCH}/cache/${CMAKE_MATCH_1}")
    endif()
    file(GLOB spoiled "${SCRATCH}/cache/${spoil}")
    foreach(file IN LISTS spoiled)
        if(file MATCHES "InRelease$")
            file(READ "${file}" text)
            string(REPLACE "\nSuite: " "\nSuite: x" text "${text}")
            file(WRITE "${file}" "${text}")
        else()
            file(APPEND "${file}" "x")
        endif()
    endforeach()
    execute_process(
        COMMAND "${CMAKE_COMMAND}" -DCASE_VERSION=${version} -DORIG=${ORIG} -DMODULE=${MODULE}
            -DPLEXA_DEBIAN_OFFLINE=ON -DPLEXA_DEBIAN_SOURCE_CACHE=${SCRATCH}/cache
            -DPLEXA_JPEG_SOURCE_CACHE= -DPLEXA_DEBIAN_WORK_DIR=${SCRATCH}/work -P "${CMAKE_CURRENT_LIST_FILE}"
        OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE rc)
    string(REGEX REPLACE "[ \n]+" " " flat "${out}")
    if(NOT flat MATCHES "${expected}" OR (spoil AND rc EQUAL 0) OR ("${spoil}${version}" STREQUAL 2.1.5 AND NOT rc EQUAL 0))
        string(APPEND failures "\n${name}: status ${rc}, expected \"${expected}\", got:\n${out}")
    endif()
endforeach()
file(REMOVE_RECURSE "${SCRATCH}")
if(failures)
    message(FATAL_ERROR "${failures}")
endif()
