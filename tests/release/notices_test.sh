#!/usr/bin/env bash
# Every library whose code the shipped files contain has its notice, and the
# notices claim nothing that is not there. What a file contains is read from
# the linker's map (every archive member and object it took) and, for
# header-only libraries, from its debug information (the folders of the
# headers compiled in).
#
#   notices_test.sh NOTICES JPEG_VERSION FILE...
#
# Each FILE (plexa.dll, plexa-host.exe as built) has FILE.map and FILE.debug
# beside it (cmake/Win64.cmake, plexa_split_debug_info). Ends with
# "N passed, N failed".
set -uo pipefail

notices=$1
jpeg_version=$2
shift 2

passed=0
failed=0

# The notice that covers an input of the link, by its path; empty for
# Plexa's own code; "?" for anything not known here, which fails the test
# until its notice is written and named in this table.
notice_for_input() {
    case $1 in
        _deps/libjpeg-turbo/* | */_deps/libjpeg-turbo/*) echo "libjpeg-turbo" ;;
        _deps/libpng/* | */_deps/libpng/*) echo "libpng" ;;
        _deps/zlib/* | */_deps/zlib/*) echo "zlib" ;;
        */x86_64-w64-mingw32/lib/libpthread.a | */x86_64-w64-mingw32/lib/libwinpthread.a) echo "winpthreads" ;;
        # The C runtime start-up, libmingw32, libmingwex and the import
        # libraries of the system DLLs all come from mingw-w64's runtime.
        */x86_64-w64-mingw32/lib/*) echo "MinGW-w64 runtime" ;;
        */gcc/x86_64-w64-mingw32/*/lib*.a | */gcc/x86_64-w64-mingw32/*/crt*.o) echo "GCC runtime libraries" ;;
        *.def | CMakeFiles/* | */CMakeFiles/* | lib*plexa*.a | */lib*plexa*.a) echo "" ;;
        *) echo "?" ;;
    esac
}

# Header-only libraries, by the folder the cross compiler read them from.
notice_for_header_dir() {
    case $1 in
        /usr/include/stb) echo "stb_image_write" ;;
        *) echo "?" ;;
    esac
}
known_notices=("libjpeg-turbo" "libpng" "zlib" "stb_image_write" "MinGW-w64 runtime" "winpthreads" "GCC runtime libraries")

# The notices file's summary lines for one file: from its name to the next
# blank line or the next file's name.
summary_of() {
    tr -d '\r' <"$notices" | awk -v name="$1" '
        $1 == name { on = 1; sub(/^ *[^ ]+ +/, ""); print; next }
        on && (/^$/ || /^  [a-z]/) { exit }
        on { print }'
}

for file in "$@"; do
    name=${file##*/}
    problems=()
    declare -A needed=()
    if [[ ! -f $file.map || ! -f $file.debug ]]; then
        problems+=("no $file.map or $file.debug: build the win64 preset first")
    else
        # Archive members taken ("path/lib.a(member.o)") and objects loaded.
        inputs=$({
            awk '/^Archive member included/ { on = 1; next } /^(Discarded input sections|Allocating common symbols|Memory Configuration)/ { on = 0 } on' "$file.map" |
                grep -oE '^[^ (]+\.a\(' | sed 's/($//'
            grep -E '^LOAD ' "$file.map" | awk '{print $2}' | grep -E '\.(o|obj|def)$'
        } | sort -u)
        while IFS= read -r input; do
            [[ -n $input ]] || continue
            notice=$(notice_for_input "$input")
            if [[ $notice == "?" ]]; then
                problems+=("no notice known for $input: add its notice to THIRD-PARTY-NOTICES.txt and to this test")
            elif [[ -n $notice ]]; then
                needed[$notice]=1
            fi
        done <<<"$inputs"
        while IFS= read -r dir; do
            [[ -n $dir ]] || continue
            notice=$(notice_for_header_dir "$dir")
            if [[ $notice == "?" ]]; then
                problems+=("headers from $dir are compiled in, and no notice is known for them")
            else
                needed[$notice]=1
            fi
        done < <(strings "$file.debug" | grep -oE '^/usr/include/[^/]+' | sort -u)
    fi
    summary=$(summary_of "$name")
    [[ -n $summary ]] || problems+=("THIRD-PARTY-NOTICES.txt has no summary line for $name")
    for notice in "${known_notices[@]}"; do
        listed=0
        grep -qF "$notice" <<<"$summary" && listed=1
        if [[ -n ${needed[$notice]:-} ]]; then
            [[ $listed -eq 1 ]] || problems+=("$name contains $notice, which its summary line does not name")
            # A section of its own: a rule line, then a title starting with the name.
            tr -d '\r' <"$notices" | grep -A1 -E '^={20,}$' | grep -E "^${notice}( |$)" >/dev/null ||
                problems+=("THIRD-PARTY-NOTICES.txt has no section for $notice")
        elif [[ $listed -eq 1 ]]; then
            problems+=("the summary line of $name names $notice, which it does not contain")
        fi
    done
    unset needed
    if [[ ${#problems[@]} -eq 0 ]]; then
        passed=$((passed + 1))
        echo "ok   $name: every library in it has its notice"
    else
        failed=$((failed + 1))
        echo "FAIL $name"
        printf '  %s\n' "${problems[@]}"
    fi
done

# The decoder's notice names the version the build fetches.
if tr -d '\r' <"$notices" | grep -E "^libjpeg-turbo $jpeg_version " >/dev/null; then
    passed=$((passed + 1))
    echo "ok   the libjpeg-turbo notice names version $jpeg_version"
else
    failed=$((failed + 1))
    echo "FAIL the libjpeg-turbo notice does not name version $jpeg_version, the one built"
fi

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
