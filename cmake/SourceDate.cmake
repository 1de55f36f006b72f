# PLEXA_SOURCE_DATE_EPOCH: the time of the last commit, in seconds since 1970,
# for every time stamp the build writes into what it ships. In this order:
#
#   1. SOURCE_DATE_EPOCH from the environment (a packager's choice wins);
#   2. the last commit's time, in a git checkout of this source;
#   3. cmake/source-date.txt, which `git archive` fills in with the commit's
#      time (export-subst, .gitattributes), for a tree without .git.
#
# It is also put into this configure run's environment, so that CMake's own
# string(TIMESTAMP) gives the commit's date.

include_guard(GLOBAL)

set(_plexa_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(_plexa_epoch_from "SOURCE_DATE_EPOCH")
if(_plexa_epoch STREQUAL "")
    find_package(Git QUIET)
    if(GIT_FOUND)
        execute_process(COMMAND "${GIT_EXECUTABLE}" rev-parse --show-toplevel --git-path logs/HEAD
            WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}" OUTPUT_VARIABLE _plexa_git RESULT_VARIABLE _plexa_rc ERROR_QUIET)
        string(REPLACE "\n" ";" _plexa_git "${_plexa_git}")
        list(LENGTH _plexa_git _plexa_lines)
        if(_plexa_lines GREATER 1)
            list(GET _plexa_git 0 _plexa_top)
        endif()
        # Only this source's own history: a tree unpacked inside some other
        # checkout must not take that one's date.
        if(_plexa_rc EQUAL 0 AND _plexa_lines GREATER 1 AND EXISTS "${_plexa_top}")
            file(REAL_PATH "${_plexa_top}" _plexa_top)
            file(REAL_PATH "${PROJECT_SOURCE_DIR}" _plexa_source)
            if(_plexa_top STREQUAL _plexa_source)
                execute_process(COMMAND "${GIT_EXECUTABLE}" log -1 --format=%ct
                    WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}" OUTPUT_VARIABLE _plexa_epoch
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
                set(_plexa_epoch_from "the last commit")
                # A new commit configures again, for its own time.
                list(GET _plexa_git 1 _plexa_log)
                get_filename_component(_plexa_log "${_plexa_log}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")
                if(EXISTS "${_plexa_log}")
                    set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_plexa_log}")
                endif()
            endif()
        endif()
    endif()
endif()
if(_plexa_epoch STREQUAL "")
    file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/source-date.txt" _plexa_epoch LIMIT_COUNT 1)
    set(_plexa_epoch_from "cmake/source-date.txt")
endif()
if(NOT _plexa_epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "No date for this source: not a git checkout, and cmake/source-date.txt holds "
        "'${_plexa_epoch}' (only `git archive` fills it in). Set SOURCE_DATE_EPOCH to the source's time, "
        "in seconds since 1970.")
endif()
set(PLEXA_SOURCE_DATE_EPOCH ${_plexa_epoch})
set(ENV{SOURCE_DATE_EPOCH} ${_plexa_epoch})
string(TIMESTAMP _plexa_date "%Y-%m-%d %H:%M:%S UTC" UTC)
message(STATUS "Source date: ${_plexa_date} (${_plexa_epoch_from})")
