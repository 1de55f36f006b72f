# Third-party code from Debian's source packages, verified through the
# archive's own chain of signatures and checksums:
#
#     plexa_debian_source(NAME <source package> VERSION <upstream version>
#                         ORIG_SHA256 <SHA-256 of the upstream tarball>
#                         OUT_DIR <var> [OUT_REVISION <var>])
#
# sets <var> to a folder holding the package's source with Debian's patch
# series applied by dpkg-source, and the OUT_REVISION variable to the Debian
# version it came from (e.g. 1:2.1.5-2). That revision is the newest one of
# the pinned upstream version found in Debian bookworm's and bookworm-security's
# main Sources indices, so that a security update which replaces a revision in
# the archive is taken up by the next fresh configure instead of breaking it.
# The upstream tarball stays the same across revisions: it is pinned.
#
# Each file is checked against the one before it:
#   dists/<dist>/InRelease    gpgv, against Debian's archive keyring
#                             (PLEXA_DEBIAN_KEYRING); its Codename must be <dist>
#   main/source/Sources.xz    (or .gz) the SHA-256 the signed InRelease gives
#   <name>_<revision>.dsc     the SHA-256 its entry in that Sources index gives
#   tarballs                  the SHA-256 lines of the .dsc; the upstream one
#                             must also be ORIG_SHA256
# Anything that does not match stops the configure, naming the file.
#
# Where the files come from: the Debian mirror apt's own configuration names
# for bookworm (`apt-get indextargets`), or PLEXA_DEBIAN_MIRROR; the security
# archive likewise, or PLEXA_DEBIAN_SECURITY_MIRROR (when neither names one,
# only bookworm is searched, which the configure output says). A folder named
# by PLEXA_DEBIAN_SOURCE_CACHE (cache variable or environment; the older
# PLEXA_JPEG_SOURCE_CACHE is read too) is filled with every file fetched, laid
# out as dists/<dist>/InRelease, dists/<dist>/main/source/Sources.xz and the
# pool files side by side, and is searched before the mirror. The signed
# indices themselves are fetched afresh whenever a mirror is reachable; with
# PLEXA_DEBIAN_OFFLINE=ON, or when the mirror cannot be reached, the cached
# ones are used and checked the same way, so that an offline build verifies
# too and needs no network at all. (Their Valid-Until is not held against
# them: an old index can at worst pick an older revision of the same pinned
# upstream tarball.) A revision the mirror lists but does not serve gives way
# to the next older one, with a warning.
#
# The result is kept in the build folder: _deps/<name>/debian-revision.txt
# holds "<revision> <dist> <upstream version> <ORIG_SHA256>", and later
# configures reuse the unpacked source without looking at the network. The
# folder _deps/<name> belongs to the package: a new revision empties it, so an
# ExternalProject building in there starts afresh.

include_guard(GLOBAL)

set(PLEXA_DEBIAN_MIRROR "$ENV{PLEXA_DEBIAN_MIRROR}" CACHE STRING
    "Debian mirror for bookworm's source packages (empty: the one apt's configuration names)")
set(PLEXA_DEBIAN_SECURITY_MIRROR "$ENV{PLEXA_DEBIAN_SECURITY_MIRROR}" CACHE STRING
    "Debian security archive for bookworm-security (empty: the one apt's configuration names)")
set(PLEXA_DEBIAN_SOURCE_CACHE "$ENV{PLEXA_DEBIAN_SOURCE_CACHE}" CACHE PATH
    "Folder searched first for Debian's signed indices and source files, and filled after a download")
set(PLEXA_JPEG_SOURCE_CACHE "$ENV{PLEXA_JPEG_SOURCE_CACHE}" CACHE PATH
    "Older name of PLEXA_DEBIAN_SOURCE_CACHE, read when that is empty")
option(PLEXA_DEBIAN_OFFLINE "Take Debian's source packages from PLEXA_DEBIAN_SOURCE_CACHE only" OFF)
set(PLEXA_DEBIAN_KEYRING /usr/share/keyrings/debian-archive-keyring.gpg CACHE FILEPATH
    "Keyring that Debian's InRelease files are checked against")
set(PLEXA_DEBIAN_WORK_DIR "${CMAKE_BINARY_DIR}/_deps" CACHE PATH
    "Where Debian's source packages are downloaded and unpacked")
mark_as_advanced(PLEXA_JPEG_SOURCE_CACHE PLEXA_DEBIAN_KEYRING PLEXA_DEBIAN_WORK_DIR)

function(_plexa_debian_cache out_var)
    set(dir "${PLEXA_DEBIAN_SOURCE_CACHE}")
    if(NOT dir)
        set(dir "${PLEXA_JPEG_SOURCE_CACHE}")
    endif()
    set(${out_var} "${dir}" PARENT_SCOPE)
endfunction()

# The archive apt fetches <dist> from (a local mirror or proxy included).
# Entries whose origin is not Debian are passed over; the Origin field is
# empty until apt has fetched the lists, and gpgv stops a wrong one anyway.
function(_plexa_debian_apt_mirror dist out_var)
    set(${out_var} "" PARENT_SCOPE)
    find_program(PLEXA_APT_GET apt-get)
    if(NOT PLEXA_APT_GET)
        return()
    endif()
    execute_process(
        COMMAND "${PLEXA_APT_GET}" indextargets --format "$(RELEASE)|$(CODENAME)|$(ORIGIN)|$(REPO_URI)"
        OUTPUT_VARIABLE targets RESULT_VARIABLE rc ERROR_QUIET)
    if(NOT rc EQUAL 0)
        return()
    endif()
    string(REPLACE "\n" ";" targets "${targets}")
    foreach(target IN LISTS targets)
        # (if() evaluates parentheses before MATCHES: two steps.)
        if(NOT target MATCHES "^([^|]*)\\|([^|]*)\\|([^|]*)\\|((https?|ftp|file)://.+)$")
            continue()
        endif()
        if((CMAKE_MATCH_1 STREQUAL dist OR CMAKE_MATCH_2 STREQUAL dist)
           AND (CMAKE_MATCH_3 STREQUAL "" OR CMAKE_MATCH_3 STREQUAL "Debian"))
            set(${out_var} "${CMAKE_MATCH_4}" PARENT_SCOPE)
            return()
        endif()
    endforeach()
endfunction()

# Puts a file whose SHA-256 is known into the download folder (laid out as the
# cache is, at <local>): the copy already there, the cache's, or one from
# <mirror>/<remote>. <source> names what gave the checksum, for the messages.
# A copy that does not match stops the configure; with <missing_var> given, a
# file that is nowhere to be had sets it to the reason instead.
function(_plexa_debian_fetch local remote sha256 mirror source)
    set(missing_var "${ARGV5}")
    if(missing_var)
        set(${missing_var} "" PARENT_SCOPE)
    endif()
    set(target "${_debian_dl}/${local}")
    _plexa_debian_cache(cache)
    set(candidates "${target}")
    if(cache AND NOT "${cache}/${local}" STREQUAL target)
        list(APPEND candidates "${cache}/${local}")
    endif()
    set(rejected "")
    foreach(candidate IN LISTS candidates)
        if(EXISTS "${candidate}")
            file(SHA256 "${candidate}" got)
            if(got STREQUAL sha256)
                if(NOT candidate STREQUAL target)
                    get_filename_component(dir "${target}" DIRECTORY)
                    file(MAKE_DIRECTORY "${dir}")
                    file(COPY_FILE "${candidate}" "${target}")
                endif()
                return()
            endif()
            string(APPEND rejected "\n  ${candidate} has SHA-256 ${got}")
        endif()
    endforeach()
    if(PLEXA_DEBIAN_OFFLINE OR NOT mirror)
        set(reason "no copy in the cache (\"${cache}\"), and no mirror to fetch it from")
        if(missing_var AND NOT rejected)
            set(${missing_var} "${local}: ${reason}" PARENT_SCOPE)
            return()
        endif()
        if(NOT rejected)
            set(rejected "\n  ${reason}")
        endif()
        message(FATAL_ERROR "Debian source: ${local}: ${source} gives SHA-256 ${sha256}, but${rejected}")
    endif()
    if(rejected)
        message(STATUS "Debian source: replacing stale copies of ${local}:${rejected}")
    endif()
    set(url "${mirror}/${remote}")
    message(STATUS "Debian source: downloading ${url}")
    get_filename_component(dir "${target}" DIRECTORY)
    file(MAKE_DIRECTORY "${dir}")
    file(DOWNLOAD "${url}" "${target}.part" STATUS status TLS_VERIFY ON)
    list(GET status 0 code)
    if(NOT code EQUAL 0)
        file(REMOVE "${target}.part")
        if(missing_var)
            set(${missing_var} "${url}: ${status}" PARENT_SCOPE)
            return()
        endif()
        message(FATAL_ERROR "Debian source: ${url}: ${status}")
    endif()
    file(SHA256 "${target}.part" got)
    if(NOT got STREQUAL sha256)
        file(REMOVE "${target}.part")
        message(FATAL_ERROR "Debian source: ${url} has SHA-256 ${got}, but ${source} gives ${sha256}")
    endif()
    file(RENAME "${target}.part" "${target}")
    if(cache)
        get_filename_component(dir "${cache}/${local}" DIRECTORY)
        file(MAKE_DIRECTORY "${dir}")
        file(COPY_FILE "${target}" "${cache}/${local}")
    endif()
endfunction()

# The decompressed main Sources index of <dist>, verified from the signed
# InRelease on; empty when there is no mirror and no cached copy. Done once
# per configure, whichever packages ask.
function(_plexa_debian_index dist mirror out_var)
    get_property(known GLOBAL PROPERTY "PLEXA_DEBIAN_INDEX_${dist}" SET)
    if(known)
        get_property(index GLOBAL PROPERTY "PLEXA_DEBIAN_INDEX_${dist}")
        set(${out_var} "${index}" PARENT_SCOPE)
        return()
    endif()
    set(${out_var} "" PARENT_SCOPE)
    _plexa_debian_cache(cache)
    set(local "dists/${dist}/InRelease")
    set(inrelease "${_debian_dl}/${local}")
    file(MAKE_DIRECTORY "${_debian_dl}/dists/${dist}")
    set(fetched OFF)
    if(mirror AND NOT PLEXA_DEBIAN_OFFLINE)
        file(DOWNLOAD "${mirror}/${local}" "${inrelease}.part" STATUS status TLS_VERIFY ON)
        list(GET status 0 code)
        if(code EQUAL 0)
            file(RENAME "${inrelease}.part" "${inrelease}")
            set(fetched ON)
        else()
            file(REMOVE "${inrelease}.part")
            message(WARNING "Debian source: ${mirror}/${local}: ${status}; trying the cache")
        endif()
    endif()
    if(NOT fetched)
        if(NOT cache OR NOT EXISTS "${cache}/${local}")
            set_property(GLOBAL PROPERTY "PLEXA_DEBIAN_INDEX_${dist}" "")
            return()
        endif()
        if(NOT "${cache}/${local}" STREQUAL inrelease)
            file(COPY_FILE "${cache}/${local}" "${inrelease}")
        endif()
    endif()

    find_program(PLEXA_GPGV gpgv)
    if(NOT PLEXA_GPGV OR NOT EXISTS "${PLEXA_DEBIAN_KEYRING}")
        message(FATAL_ERROR "Debian source: gpgv and ${PLEXA_DEBIAN_KEYRING} are needed to check "
            "Debian's signed indices (packages gpgv and debian-archive-keyring; tools/install-deps.sh installs them)")
    endif()
    set(release "${_debian_dl}/dists/${dist}/Release.verified")
    file(REMOVE "${release}")
    execute_process(
        COMMAND "${PLEXA_GPGV}" --status-fd 1 --keyring "${PLEXA_DEBIAN_KEYRING}" --output "${release}" "${inrelease}"
        OUTPUT_VARIABLE status ERROR_VARIABLE log RESULT_VARIABLE rc)
    # The archive signs with several keys at once. One the keyring lacks, or
    # one that has expired, is no reason to refuse the good ones beside it; a
    # bad signature, or one by a revoked key, is.
    if(NOT status MATCHES "\\[GNUPG:\\] GOODSIG" OR status MATCHES "\\[GNUPG:\\] (BADSIG|REVKEYSIG)"
       OR NOT EXISTS "${release}")
        message(FATAL_ERROR "Debian source: ${inrelease} carries no good signature of "
            "${PLEXA_DEBIAN_KEYRING} (gpgv ${rc}):\n${log}")
    endif()
    file(STRINGS "${release}" codename REGEX "^Codename: ")
    if(NOT codename STREQUAL "Codename: ${dist}")
        message(FATAL_ERROR "Debian source: ${inrelease} is signed for \"${codename}\", not ${dist}")
    endif()
    if(fetched AND cache AND NOT "${cache}/${local}" STREQUAL inrelease)
        file(MAKE_DIRECTORY "${cache}/dists/${dist}")
        file(COPY_FILE "${inrelease}" "${cache}/${local}")
    endif()

    # The SHA256 section lists each index with its size; the MD5Sum section's
    # shorter sums are left out by their length.
    file(STRINGS "${release}" entries REGEX "^ [0-9a-f]+ +[0-9]+ main/source/Sources\\.(xz|gz)$")
    foreach(entry IN LISTS entries)
        if(entry MATCHES "^ ([0-9a-f]+) +[0-9]+ (main/source/Sources\\.(xz|gz))$")
            string(LENGTH "${CMAKE_MATCH_1}" length)
            if(length EQUAL 64)
                set(sum_${CMAKE_MATCH_3} "${CMAKE_MATCH_1}")
            endif()
        endif()
    endforeach()
    if(sum_xz)
        set(compression xz)
    elseif(sum_gz)
        set(compression gz)
    else()
        message(FATAL_ERROR "Debian source: the signed ${local} lists no main/source/Sources.xz or .gz")
    endif()
    set(local "dists/${dist}/main/source/Sources.${compression}")
    _plexa_debian_fetch("${local}" "${local}" "${sum_${compression}}" "${mirror}" "the signed dists/${dist}/InRelease")
    set(index "${PLEXA_DEBIAN_WORK_DIR}/debian-index/${dist}.Sources")
    get_filename_component(dir "${index}" DIRECTORY)
    file(MAKE_DIRECTORY "${dir}")
    if(compression STREQUAL xz)
        set(unpack xz -dc)
    else()
        set(unpack gzip -dc)
    endif()
    execute_process(COMMAND ${unpack} "${_debian_dl}/${local}" OUTPUT_FILE "${index}" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "Debian source: cannot decompress ${_debian_dl}/${local} (${unpack}: ${rc})")
    endif()
    set_property(GLOBAL PROPERTY "PLEXA_DEBIAN_INDEX_${dist}" "${index}")
    set(${out_var} "${index}" PARENT_SCOPE)
endfunction()

# Every entry of <name> in a Sources index as "<revision>|<directory>|<dsc>|<sha256>".
# grep finds the entries (CMake itself takes many seconds over an index of
# tens of megabytes); each is read from its byte offset to its blank line.
function(_plexa_debian_entries index name out_var)
    execute_process(COMMAND grep -b -x -F "Package: ${name}" "${index}"
        OUTPUT_VARIABLE hits RESULT_VARIABLE rc)
    if(rc GREATER 1)
        message(FATAL_ERROR "Debian source: grep cannot search ${index} (${rc})")
    endif()
    string(REGEX MATCHALL "[0-9]+:" offsets "${hits}")
    set(entries "")
    foreach(offset IN LISTS offsets)
        string(REPLACE ":" "" offset "${offset}")
        file(READ "${index}" paragraph OFFSET ${offset} LIMIT 262144)
        string(FIND "${paragraph}" "\n\n" end)
        string(SUBSTRING "${paragraph}" 0 ${end} paragraph)
        string(REPLACE ";" "," paragraph "${paragraph}")
        string(REPLACE "\n" ";" lines "${paragraph}")
        set(version "")
        set(directory "")
        set(dsc "")
        set(sha256 "")
        foreach(line IN LISTS lines)
            if(line MATCHES "^Version: (.+)$")
                set(version "${CMAKE_MATCH_1}")
            elseif(line MATCHES "^Directory: (.+)$")
                set(directory "${CMAKE_MATCH_1}")
            elseif(line MATCHES "^ ([0-9a-f]+) [0-9]+ ([^ ]+\\.dsc)$")
                string(LENGTH "${CMAKE_MATCH_1}" length)
                if(length EQUAL 64)
                    set(dsc "${CMAKE_MATCH_2}")
                    set(sha256 "${CMAKE_MATCH_1}")
                endif()
            endif()
        endforeach()
        if(version AND directory AND dsc)
            list(APPEND entries "${version}|${directory}|${dsc}|${sha256}")
        endif()
    endforeach()
    set(${out_var} "${entries}" PARENT_SCOPE)
endfunction()

function(plexa_debian_source)
    cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;VERSION;ORIG_SHA256;OUT_DIR;OUT_REVISION" "")
    foreach(required NAME VERSION ORIG_SHA256 OUT_DIR)
        if(NOT arg_${required})
            message(FATAL_ERROR "plexa_debian_source: ${required} missing")
        endif()
    endforeach()
    set(name "${arg_NAME}")
    set(root "${PLEXA_DEBIAN_WORK_DIR}/${name}")
    set(record "${root}/debian-revision.txt")
    set(_debian_dl "${PLEXA_DEBIAN_WORK_DIR}/debian")

    # Kept from an earlier configure: no network, and the same revision.
    if(EXISTS "${record}")
        file(READ "${record}" kept)
        string(REGEX MATCH "^([^ ]+) ([^ ]+) ([^ ]+) ([^ \n]+)\n$" kept "${kept}")
        set(revision "${CMAKE_MATCH_1}")
        set(dist "${CMAKE_MATCH_2}")
        if(kept AND CMAKE_MATCH_3 STREQUAL arg_VERSION AND CMAKE_MATCH_4 STREQUAL arg_ORIG_SHA256)
            string(REGEX REPLACE "^[0-9]+:" "" file_version "${revision}")
            set(source_dir "${root}/src/${name}-${file_version}")
            if(IS_DIRECTORY "${source_dir}")
                message(STATUS "${name} ${arg_VERSION}: Debian source ${revision} from ${dist} (verified earlier, ${record})")
                set(${arg_OUT_DIR} "${source_dir}" PARENT_SCOPE)
                if(arg_OUT_REVISION)
                    set(${arg_OUT_REVISION} "${revision}" PARENT_SCOPE)
                endif()
                return()
            endif()
        endif()
    endif()

    # The newest revision of the upstream version, across both archives.
    set(_debian_release bookworm)
    set(_debian_security_release bookworm-security)
    set(mirror_${_debian_release} "${PLEXA_DEBIAN_MIRROR}")
    set(mirror_${_debian_security_release} "${PLEXA_DEBIAN_SECURITY_MIRROR}")
    set(searched "")
    set(found "")
    foreach(dist ${_debian_release} ${_debian_security_release})
        if(NOT mirror_${dist} AND NOT PLEXA_DEBIAN_OFFLINE)
            _plexa_debian_apt_mirror(${dist} mirror_${dist})
        endif()
        string(REGEX REPLACE "/+$" "" mirror_${dist} "${mirror_${dist}}")
        _plexa_debian_index(${dist} "${mirror_${dist}}" index)
        if(NOT index)
            _plexa_debian_cache(cache)
            if(mirror_${dist} AND NOT PLEXA_DEBIAN_OFFLINE)
                message(FATAL_ERROR "Debian source: ${mirror_${dist}}/dists/${dist}/InRelease cannot be had "
                    "(see above), and the cache (\"${cache}\") holds no copy of it")
            elseif(dist STREQUAL _debian_release)
                message(FATAL_ERROR "Debian source: no mirror for ${dist}. Name one with PLEXA_DEBIAN_MIRROR "
                    "(cache variable or environment), or give apt a source for ${dist} "
                    "(/etc/apt/sources.list or /etc/apt/sources.list.d; see apt-get indextargets). "
                    "Offline, PLEXA_DEBIAN_SOURCE_CACHE must name a folder holding dists/${dist}/InRelease "
                    "(now: \"${cache}\").")
            endif()
            if(PLEXA_DEBIAN_OFFLINE)
                set(why "the cache holds no dists/${dist}/InRelease")
            else()
                set(why "neither apt's configuration nor PLEXA_DEBIAN_SECURITY_MIRROR names ${dist}, "
                    "and the cache holds no index of it")
            endif()
            message(STATUS "Debian source: ${why}: searching ${_debian_release} only")
            continue()
        endif()
        list(APPEND searched ${dist})
        _plexa_debian_entries("${index}" "${name}" entries)
        foreach(entry IN LISTS entries)
            string(REGEX REPLACE "^([0-9]+:)?([^|]*)-[^-|]*\\|.*" "\\2" upstream "${entry}")
            if(upstream STREQUAL arg_VERSION)
                list(APPEND found "${entry}|${dist}")
            endif()
        endforeach()
    endforeach()
    list(JOIN searched " and " searched_text)
    if(NOT found)
        message(FATAL_ERROR "Debian source: no revision of ${name} ${arg_VERSION} in the Sources index "
            "of ${searched_text}")
    endif()

    # Newest first. One the mirror no longer (or not yet) serves gives way to
    # the next, loudly; a file that does not match its checksum stops.
    find_program(PLEXA_DPKG dpkg)
    set(sorted "")
    foreach(entry IN LISTS found)
        string(REGEX MATCH "^[^|]+" version "${entry}")
        set(at 0)
        foreach(other IN LISTS sorted)
            string(REGEX MATCH "^[^|]+" other "${other}")
            execute_process(COMMAND "${PLEXA_DPKG}" --compare-versions "${version}" gt "${other}"
                RESULT_VARIABLE not_newer)
            if(NOT not_newer)
                break()
            endif()
            math(EXPR at "${at} + 1")
        endforeach()
        list(INSERT sorted ${at} "${entry}")
    endforeach()
    set(revision "")
    foreach(entry IN LISTS sorted)
        string(REPLACE "|" ";" entry "${entry}")
        list(GET entry 0 candidate)
        list(GET entry 1 directory)
        list(GET entry 2 dsc)
        list(GET entry 3 dsc_sha256)
        list(GET entry 4 from)
        set(mirror "${mirror_${from}}")
        _plexa_debian_fetch("${dsc}" "${directory}/${dsc}" "${dsc_sha256}" "${mirror}"
            "the Sources index of ${from}" missing)
        # Every file the .dsc lists, with the SHA-256 it gives.
        set(orig "")
        if(NOT missing)
            file(STRINGS "${_debian_dl}/${dsc}" lines)
            set(in_sha256 OFF)
            foreach(line IN LISTS lines)
                if(line MATCHES "^Checksums-Sha256:")
                    set(in_sha256 ON)
                elseif(in_sha256 AND line MATCHES "^ ([0-9a-f]+) [0-9]+ ([^ ]+)$")
                    set(sha256 "${CMAKE_MATCH_1}")
                    set(file "${CMAKE_MATCH_2}")
                    _plexa_debian_fetch("${file}" "${directory}/${file}" "${sha256}" "${mirror}" "${dsc}" missing)
                    if(missing)
                        break()
                    endif()
                    if(file MATCHES "\\.orig\\.tar\\.[a-z0-9]+$")
                        set(orig "${sha256}")
                    endif()
                else()
                    set(in_sha256 OFF)
                endif()
            endforeach()
        endif()
        if(missing)
            message(WARNING "Debian source: ${name} ${candidate} of ${from} cannot be had (${missing}); "
                "trying an older revision")
            continue()
        endif()
        if(NOT orig STREQUAL arg_ORIG_SHA256)
            message(FATAL_ERROR "Debian source: ${dsc} lists an upstream tarball with SHA-256 \"${orig}\", "
                "not the pinned ${arg_ORIG_SHA256} of ${name} ${arg_VERSION}")
        endif()
        set(revision "${candidate}")
        break()
    endforeach()
    if(NOT revision)
        message(FATAL_ERROR "Debian source: no revision of ${name} ${arg_VERSION} listed in ${searched_text} "
            "can be had (see the warnings above)")
    endif()

    # dpkg-source checks the files against the .dsc once more and applies
    # debian/patches/series in order, as Debian's own build does.
    find_program(PLEXA_DPKG_SOURCE dpkg-source)
    if(NOT PLEXA_DPKG_SOURCE)
        message(FATAL_ERROR "dpkg-source not found: it unpacks Debian's source packages "
            "(package dpkg-dev; tools/install-deps.sh installs it)")
    endif()
    string(REGEX REPLACE "^[0-9]+:" "" file_version "${revision}")
    set(source_dir "${root}/src/${name}-${file_version}")
    file(REMOVE_RECURSE "${root}")
    file(MAKE_DIRECTORY "${root}/src")
    execute_process(
        COMMAND "${PLEXA_DPKG_SOURCE}" --require-strong-checksums -x "${_debian_dl}/${dsc}" "${source_dir}"
        WORKING_DIRECTORY "${_debian_dl}"
        RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0 OR NOT IS_DIRECTORY "${source_dir}")
        message(FATAL_ERROR "dpkg-source -x ${dsc} failed (${rc}):\n${out}\n${err}")
    endif()
    file(WRITE "${record}" "${revision} ${from} ${arg_VERSION} ${arg_ORIG_SHA256}\n")
    message(STATUS "${name} ${arg_VERSION}: Debian source ${revision} from ${from}, verified "
        "(newest to be had in ${searched_text}; ${record})")
    set(${arg_OUT_DIR} "${source_dir}" PARENT_SCOPE)
    if(arg_OUT_REVISION)
        set(${arg_OUT_REVISION} "${revision}" PARENT_SCOPE)
    endif()
endfunction()
