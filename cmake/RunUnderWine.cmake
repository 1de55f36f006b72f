# cmake -P RunUnderWine.cmake PROGRAM.exe [ARGUMENTS...]
#
# Runs a Windows program of this build under Wine at build time, through
# tools/wine-run.sh. Without a display (a plain build in a terminal) it gets
# an X server of its own from tools/with-display.sh: a Wine prefix whose
# server started without a display would deny OpenGL to the tests later.
set(_args "")
foreach(_i RANGE 4 ${CMAKE_ARGC})
    if(_i LESS CMAKE_ARGC)
        list(APPEND _args "${CMAKE_ARGV${_i}}")
    endif()
endforeach()
get_filename_component(_tools "${CMAKE_CURRENT_LIST_DIR}/../tools" ABSOLUTE)
set(_run "${_tools}/wine-run.sh")
if("$ENV{DISPLAY}" STREQUAL "")
    set(_run "${_tools}/with-display.sh" "${_run}")
endif()
execute_process(COMMAND ${_run} "${CMAKE_ARGV3}" ${_args} RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "${CMAKE_ARGV3} failed under Wine (${_rc})")
endif()
