# The release: `cmake --build --preset win64 --target package` writes, in
# <build>/package,
#
#     plexa-VERSION-win64.zip          what users download, one folder:
#         plexa.dll, plexa-host.exe    stripped
#         samples\                     the sample desktop's pictures and a few
#                                      more worth trying, made by the build
#         README.txt                   the user's guide (docs/user-guide.txt)
#         LICENSE.txt                  Plexa's own licence (LICENSE)
#         THIRD-PARTY-NOTICES.txt      the libraries linked into the two
#                                      programs, with their licences
#                                      (docs/THIRD-PARTY-NOTICES.txt)
#         guide\                       docs/commands.md, the same as
#                                      commands.html (made by cmark), and
#                                      their pictures
#         SHA256SUMS.txt               the SHA-256 of every other file in it
#     plexa-VERSION-win64-debug.zip    the same folder with plexa.dll.debug and
#                                      plexa-host.exe.debug, the files the
#                                      programs name in .gnu_debuglink: unpacked
#                                      over the release, they sit beside them
#
# and beside each its SHA-256 in NAME.zip.sha256. Both are the same bytes from
# any build folder of one commit (tools/release-zip.sh; tools/repro-check.sh
# proves it). tests/release/package_test.sh builds them and tries them as a
# user and a crash analyst would.

install(PROGRAMS $<TARGET_FILE:plexa> $<TARGET_FILE:plexa-host> DESTINATION . COMPONENT release)
install(FILES $<TARGET_FILE:plexa>.debug $<TARGET_FILE:plexa-host>.debug DESTINATION . COMPONENT debug)

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
    DESTINATION . COMPONENT release)

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
install(FILES ${PROJECT_SOURCE_DIR}/docs/commands.md ${_plexa_guide_html} DESTINATION guide COMPONENT release)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/commands DESTINATION guide COMPONENT release
    FILES_MATCHING PATTERN "*.png")

# The pictures the sample desktop shows (tools/plexa-host/sample_desktop.cpp),
# then a few more worth choosing from the menu: the guide's checkered
# material, a stone material and two skins. The build makes them beside
# plexa.dll, where the host's sample desktop looks for them, with the
# project's own generator: a Windows program, run under Wine (outside an X
# session with a display of its own). The host itself writes no pictures.
set(PLEXA_SHIPPED_SAMPLES
    wood-640x480.jpg skin-bumps-100.bmp skin-bumps-256x128.jpg quad-64.jpg
    checker-64-pal1.bmp stone-256.jpg skin-gradient-128x64.jpg skin-checker-64-pal8.bmp)
set(_plexa_samples ${PLEXA_SHIPPED_SAMPLES})
list(TRANSFORM _plexa_samples PREPEND ${CMAKE_BINARY_DIR}/samples/)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/samples/.made
    COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
        ${CMAKE_COMMAND} -P ${CMAKE_CURRENT_LIST_DIR}/RunUnderWine.cmake
        $<TARGET_FILE:plexa-make-samples> samples ${CMAKE_BINARY_DIR}/samples ${PLEXA_SHIPPED_SAMPLES}
    COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/samples/.made
    DEPENDS plexa-make-samples ${CMAKE_CURRENT_LIST_DIR}/RunUnderWine.cmake
    BYPRODUCTS ${_plexa_samples}
    COMMENT "Making the sample pictures in ${CMAKE_BINARY_DIR}/samples"
    VERBATIM)
add_custom_target(plexa_samples ALL DEPENDS ${CMAKE_BINARY_DIR}/samples/.made)
install(FILES ${_plexa_samples} DESTINATION samples COMPONENT release)

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
" COMPONENT release)

# Each zip is staged afresh from its install component, then written by
# tools/release-zip.sh: entries sorted, every time the source's, no owner.
find_program(PLEXA_ZIP zip)
if(NOT PLEXA_ZIP)
    message(FATAL_ERROR "zip not found: it writes the release zips (tools/install-deps.sh installs it)")
endif()
set(_plexa_package_name plexa-${PROJECT_VERSION}-win64)
set(_plexa_stage ${CMAKE_BINARY_DIR}/package-stage)
set(_plexa_package_commands "")
foreach(_plexa_component IN ITEMS release debug)
    set(_plexa_zip ${CMAKE_BINARY_DIR}/package/${_plexa_package_name}.zip)
    if(_plexa_component STREQUAL "debug")
        set(_plexa_zip ${CMAKE_BINARY_DIR}/package/${_plexa_package_name}-debug.zip)
    endif()
    list(APPEND _plexa_package_commands
        COMMAND ${CMAKE_COMMAND} -E rm -rf ${_plexa_stage}/${_plexa_component}
        COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --component ${_plexa_component}
            --prefix ${_plexa_stage}/${_plexa_component}/${_plexa_package_name}
        COMMAND bash ${PROJECT_SOURCE_DIR}/tools/release-zip.sh ${_plexa_stage}/${_plexa_component}
            ${_plexa_zip} ${PLEXA_SOURCE_DATE_EPOCH})
endforeach()
add_custom_target(package
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/package
    ${_plexa_package_commands}
    COMMENT "Writing ${_plexa_package_name}.zip and ${_plexa_package_name}-debug.zip in ${CMAKE_BINARY_DIR}/package"
    VERBATIM)
add_dependencies(package plexa plexa-host plexa_guide_html plexa_samples)

add_subdirectory(${PROJECT_SOURCE_DIR}/tests/release ${CMAKE_BINARY_DIR}/tests/release)
