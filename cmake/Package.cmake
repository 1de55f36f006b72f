# The release: `cmake --build --preset win64 --target package` writes
# <build>/package/plexa-VERSION-win64.zip and, beside it, its SHA-256 in
# plexa-VERSION-win64.zip.sha256. The zip holds one folder:
#
#     plexa.dll, plexa-host.exe   stripped (their debug information stays in
#                                 the build as *.debug)
#     samples\                    the sample desktop's pictures and a few more
#                                 worth trying
#     README.txt                  the user's guide (docs/user-guide.txt)
#     LICENSE.txt                 Plexa's own licence (LICENSE)
#     THIRD-PARTY-NOTICES.txt     the libraries linked into the two programs,
#                                 with their licences (docs/THIRD-PARTY-NOTICES.txt)
#     guide\                      docs/commands.md, the same as commands.html
#                                 (made by cmark), and their pictures
#     SHA256SUMS.txt              the SHA-256 of every other file in the zip
#
# tests/release/package_test.sh builds it and tries it as a user would.

install(PROGRAMS $<TARGET_FILE:plexa> $<TARGET_FILE:plexa-host> DESTINATION .)

# Windows' Notepad and the version shown in the guide. The notices have no
# @VARIABLE@ of their own; configure_file is what converts line endings.
configure_file(${PROJECT_SOURCE_DIR}/docs/user-guide.txt ${CMAKE_BINARY_DIR}/package-files/README.txt
    @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/package-files/LICENSE.txt
    @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/docs/THIRD-PARTY-NOTICES.txt
    ${CMAKE_BINARY_DIR}/package-files/THIRD-PARTY-NOTICES.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES
    ${CMAKE_BINARY_DIR}/package-files/README.txt
    ${CMAKE_BINARY_DIR}/package-files/LICENSE.txt
    ${CMAKE_BINARY_DIR}/package-files/THIRD-PARTY-NOTICES.txt
    DESTINATION .)

# Every drawing command of the menu before and after, in pictures: the
# Markdown source, and the same as a page a double click opens in a browser,
# converted by cmark (CommonMark's reference implementation).
find_program(PLEXA_CMARK cmark)
if(NOT PLEXA_CMARK)
    message(FATAL_ERROR "cmark not found: it makes the guide's HTML page (tools/install-deps.sh installs it)")
endif()
set(_plexa_guide_html ${CMAKE_BINARY_DIR}/package-files/guide/commands.html)
add_custom_command(OUTPUT ${_plexa_guide_html}
    COMMAND ${CMAKE_COMMAND} -DCMARK=${PLEXA_CMARK} -DSOURCE=${PROJECT_SOURCE_DIR}/docs/commands.md
        -DOUTPUT=${_plexa_guide_html} "-DTITLE=Plexa ${PROJECT_VERSION}: the popup menu's drawing commands"
        -P ${CMAKE_CURRENT_LIST_DIR}/GuideHtml.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/commands.md ${CMAKE_CURRENT_LIST_DIR}/GuideHtml.cmake
    COMMENT "Converting docs/commands.md into guide/commands.html"
    VERBATIM)
add_custom_target(plexa_guide_html ALL DEPENDS ${_plexa_guide_html})
install(FILES ${PROJECT_SOURCE_DIR}/docs/commands.md ${_plexa_guide_html} DESTINATION guide)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/commands DESTINATION guide FILES_MATCHING PATTERN "*.png")

# The pictures the sample desktop shows (tools/plexa-host/sample_desktop.cpp),
# then a few more worth choosing from the menu: the guide's checkered
# material, a stone material and two skins. The host writes any of the first
# four that are missing, nothing else.
set(PLEXA_SHIPPED_SAMPLES
    wood-640x480.jpg skin-bumps-100.bmp skin-bumps-256x128.jpg quad-64.jpg
    checker-64-pal1.bmp stone-256.jpg skin-gradient-128x64.jpg skin-checker-64-pal8.bmp)

# The pictures come from the sample generator, the same program the host's own
# copy of them comes from. It is a Windows program, so it runs under Wine
# while the package is staged; outside an X session it gets one of its own.
install(CODE "
    set(_plexa_root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    file(REMOVE_RECURSE \"\${_plexa_root}/samples\")
    set(_plexa_run \"${PROJECT_SOURCE_DIR}/tools/wine-run.sh\")
    if(\"\$ENV{DISPLAY}\" STREQUAL \"\")
        set(_plexa_run \"${PROJECT_SOURCE_DIR}/tools/with-display.sh\" \${_plexa_run})
    endif()
    message(STATUS \"Generating samples into \${_plexa_root}/samples\")
    execute_process(
        COMMAND \${_plexa_run} \"$<TARGET_FILE:plexa-make-samples>\" samples samples ${PLEXA_SHIPPED_SAMPLES}
        WORKING_DIRECTORY \"\${_plexa_root}\"
        RESULT_VARIABLE _plexa_rc)
    file(GLOB _plexa_samples \"\${_plexa_root}/samples/*\")
    if(NOT _plexa_rc EQUAL 0 OR NOT _plexa_samples)
        message(FATAL_ERROR \"plexa-make-samples failed under Wine (\${_plexa_rc})\")
    endif()
")

# Last: the sums of everything staged before it, in `sha256sum -c` format.
install(CODE "
    set(_plexa_root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    file(GLOB_RECURSE _plexa_files RELATIVE \"\${_plexa_root}\" \"\${_plexa_root}/*\")
    list(REMOVE_ITEM _plexa_files SHA256SUMS.txt)
    list(SORT _plexa_files)
    set(_plexa_sums \"\")
    foreach(_plexa_file IN LISTS _plexa_files)
        file(SHA256 \"\${_plexa_root}/\${_plexa_file}\" _plexa_hash)
        string(APPEND _plexa_sums \"\${_plexa_hash}  \${_plexa_file}\\n\")
    endforeach()
    file(WRITE \"\${_plexa_root}/SHA256SUMS.txt\" \"\${_plexa_sums}\")
")

set(CPACK_GENERATOR ZIP)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGE_NAME plexa)
set(CPACK_PACKAGE_VENDOR "Plexa")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME plexa-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)

add_subdirectory(${PROJECT_SOURCE_DIR}/tests/release ${CMAKE_BINARY_DIR}/tests/release)
