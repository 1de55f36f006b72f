#!/usr/bin/env bash
# The release zips as a user and a crash analyst get them: builds the package
# target of this build tree, checks the sums beside both zips, their entries
# (sorted, one time, no extra fields), the debug zip against each program's
# .gnu_debuglink, the image version, the exact contents, unpacks it into
# a fresh directory, checks SHA256SUMS.txt there, the licence, the notices
# and the guide (also as HTML, every picture there, written for users), the
# host as a Windows program with manifest and icon, and runs the unpacked
# plexa-host.exe under Wine: on the sample desktop it must load the unpacked
# plexa.dll, find every sample picture in the zip, write the sample's scene
# files and a screenshot, and exit 0; without its plug-in (leaving no scene
# file), with a damaged one, or unable to save, it must say so in a message
# box and by its exit code.
#
#   package_test.sh <win64 build directory> <version>
#
# DISPLAY must name a running X server (CTest runs inside
# tools/with-display.sh). Ends with "N passed, N failed".
set -uo pipefail

build=$1
version=$2
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd -P)
name=plexa-$version-win64
zip=$build/package/$name.zip
debug_zip=$build/package/$name-debug.zip

passed=0
failed=0
problems=()
fail() { problems+=("$*"); }
end_case() {
    if [[ ${#problems[@]} -eq 0 ]]; then
        passed=$((passed + 1))
        echo "ok   $1"
    else
        failed=$((failed + 1))
        echo "FAIL $1"
        printf '  %s\n' "${problems[@]}"
    fi
    problems=()
}
finish() {
    echo "$passed passed, $failed failed"
    [[ $failed -eq 0 ]]
    exit
}

work=$(mktemp -d /tmp/plexa-package-test.XXXXXX)
trap 'rm -rf "$work"' EXIT

# ---- the package builds, both zips with their sums
rm -f "$zip" "$zip.sha256" "$debug_zip" "$debug_zip.sha256"
if ! cmake --build "$build" --target package >"$work/build.log" 2>&1; then
    fail "cmake --build $build --target package failed:$(tail -n 40 "$work/build.log" | sed 's/^/    /')"
fi
for z in "$zip" "$debug_zip"; do
    [[ -f $z ]] || { fail "no $z"; continue; }
    base=${z##*/}
    (cd "$(dirname "$z")" && sha256sum --check --strict "$base.sha256") >"$work/sum.log" 2>&1 ||
        fail "$base.sha256 does not check:$(sed 's/^/    /' "$work/sum.log")"
    [[ $(cat "$z.sha256") =~ ^[0-9a-f]{64}\ \ (.*)$ && ${BASH_REMATCH[1]} == "$base" ]] || fail "$base.sha256 is not one 'HASH  $base' line"
    unzip -Z1 "$z" | LC_ALL=C sort -c 2>/dev/null || fail "$base: entries not in name order"
    [[ $(unzip -ZT "$z" | awk '/^-/ {print $(NF-1)}' | sort -u | wc -l) -eq 1 ]] || fail "$base: entries of more than one time"
    unzip -Zv "$z" | grep -E 'length of extra field: +[1-9]' >/dev/null && fail "$base: entries with extra fields (owner, times)"
done
end_case "package builds $name.zip and $name-debug.zip: sums, name order, one time, no extra fields"
[[ -f $zip && -f $debug_zip ]] || finish

# ---- exactly these files, in one folder; no debug information
# samples/: the four pictures of the sample desktop, then four worth trying.
expected=(
    LICENSE.txt
    README.txt
    SHA256SUMS.txt
    THIRD-PARTY-NOTICES.txt
    plexa-host.exe
    plexa.dll
    samples/wood-640x480.jpg
    samples/skin-bumps-100.bmp
    samples/skin-bumps-256x128.jpg
    samples/quad-64.jpg
    samples/checker-64-pal1.bmp
    samples/stone-256.jpg
    samples/skin-gradient-128x64.jpg
    samples/skin-checker-64-pal8.bmp
)
expected+=(guide/commands.md guide/commands.html)
for picture in "$repo_root"/docs/commands/*.png; do expected+=("guide/commands/${picture##*/}"); done
printf "$name/%s\n" "${expected[@]}" | LC_ALL=C sort >"$work/expected.txt"
unzip -Z1 "$zip" | grep -v '/$' | LC_ALL=C sort >"$work/listing.txt"
if ! diff -u "$work/expected.txt" "$work/listing.txt" >"$work/listing.diff"; then
    fail "the zip's files differ from the expected list (- expected, + found):$(sed -n '3,$s/^/    /p' "$work/listing.diff")"
fi
end_case "the zip holds exactly the expected ${#expected[@]} files"

# ---- unpacked: the sums inside, and stripped programs
unzip -q "$zip" -d "$work/unpacked" || fail "unzip failed"
dir=$work/unpacked/$name
if ! (cd "$dir" && sha256sum --check --strict SHA256SUMS.txt) >"$work/sums.log" 2>&1; then
    fail "SHA256SUMS.txt does not check:$(sed 's/^/    /' "$work/sums.log")"
fi
listed=$(awk '{print $2}' "$dir/SHA256SUMS.txt" | LC_ALL=C sort)
others=$(cd "$dir" && find . -type f ! -name SHA256SUMS.txt | sed 's|^\./||' | LC_ALL=C sort)
[[ $listed == "$others" ]] || fail "SHA256SUMS.txt does not name every other file exactly once"
for program in plexa.dll plexa-host.exe; do
    if x86_64-w64-mingw32-objdump -h "$dir/$program" | grep -E '[[:space:]]\.debug_' >/dev/null; then
        fail "$program carries debug sections"
    fi
done
grep -q "Plexa $version" "$dir/README.txt" || fail "README.txt does not name Plexa $version"
end_case "unpacked: SHA256SUMS.txt checks, programs carry no debug information"

# ---- symbols: the debug zip, unpacked over the release, puts beside each
# program the file its .gnu_debuglink names, with the CRC-32 (gzip's) it
# gives after the padded name
unzip -q -o "$debug_zip" -d "$work/unpacked" || fail "unzip of the debug zip failed"
[[ $(unzip -Z1 "$debug_zip" | wc -l) -eq 2 ]] || fail "the debug zip holds other than two files: $(unzip -Z1 "$debug_zip")"
for program in plexa.dll plexa-host.exe; do
    x86_64-w64-mingw32-objcopy --dump-section .gnu_debuglink="$work/link" "$dir/$program" "$work/scratch"
    link=$(tr '\0' '\n' <"$work/link" | head -n 1)
    want=$(od -An -tx1 -j $(((${#link} + 4) / 4 * 4)) -N 4 "$work/link" | tr -d ' \n')
    got=$(gzip -c "$dir/$link" 2>/dev/null | tail -c 8 | head -c 4 | od -An -tx1 | tr -d ' \n')
    [[ $link == "$program.debug" && -n $want && $want == "$got" ]] ||
        fail "$program: .gnu_debuglink names '$link' with CRC $want; the debug zip's file has ${got:-none}"
    [[ $(x86_64-w64-mingw32-objdump -p "$dir/$program" | awk '/^M(aj|in)orImageVersion/ {printf "%s.", $2}') == "${version%.*}." ]] ||
        fail "$program: image version is not ${version%.*}"
done
end_case "symbols: each program's .gnu_debuglink names a file of the debug zip, CRC matching; image version ${version%.*}"

# ---- licence and notices, in Notepad's line endings
grep -q '^Copyright (c) 2026 The Plexa developers' "$dir/LICENSE.txt" && grep -q '^MIT License' "$dir/LICENSE.txt" ||
    fail "LICENSE.txt is not the MIT licence of The Plexa developers"
cmp -s <(tr -d '\r' <"$dir/LICENSE.txt") "$repo_root/LICENSE" || fail "LICENSE.txt differs from the repository's LICENSE"
cmp -s <(tr -d '\r' <"$dir/THIRD-PARTY-NOTICES.txt") "$repo_root/docs/THIRD-PARTY-NOTICES.txt" ||
    fail "THIRD-PARTY-NOTICES.txt differs from docs/THIRD-PARTY-NOTICES.txt (which the notices test checks)"
tr -d '\r' <"$dir/README.txt" | tr '\n' ' ' | tr -s ' ' | grep 'based in part on the work of the Independent JPEG Group' >/dev/null ||
    fail "README.txt lacks the acknowledgement the IJG licence asks of binary distributions"
for text in README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt; do
    [[ $(grep -c $'\r$' "$dir/$text") -eq $(wc -l <"$dir/$text") ]] || fail "$text has lines not ended by CR LF"
done
end_case "LICENSE.txt, THIRD-PARTY-NOTICES.txt and the IJG acknowledgement"

# ---- the guide, for users: the HTML page shows every picture, nothing is
# written for developers, and README.txt answers what users asked
for picture in "$repo_root"/docs/commands/*.png; do
    grep -qF "src=\"commands/${picture##*/}\"" "$dir/guide/commands.html" ||
        fail "guide/commands.html does not show commands/${picture##*/}"
done
grep -oE 'src="[^"]+"' "$dir/guide/commands.html" | sed 's/^src="//; s/"$//' | while read -r src; do
    [[ -f $dir/guide/$src ]] || echo "guide/commands.html shows $src, which is not in the zip"
done >"$work/missing-pictures.txt"
[[ -s $work/missing-pictures.txt ]] && fail "$(cat "$work/missing-pictures.txt")"
grep -q '^<!DOCTYPE html>' "$dir/guide/commands.html" || fail "guide/commands.html is not a whole HTML page"
if grep -nE 'golden\.|tools/|build it|ctest|cmake' "$dir/README.txt" "$dir/guide/commands.md" "$dir/guide/commands.html" \
    >"$work/developer.txt"; then
    fail "developer text in the guide:$(sed 's/^/    /' "$work/developer.txt")"
fi
# One phrase per question the guide must answer.
readme_answers=(
    "Properties:where the version is shown"
    "[Numerical Recipes run-time error...]:the fixed first line of each error.txt record"
    "ERROR in SIZE Coord:error.txt's lines explained"
    "only grows:that error.txt grows"
    "Removing Plexa:how to uninstall"
    "Keep the name plexa.dll:that the DLL must keep its name"
    "ANSI code page:names outside the ANSI code page"
    "70 the plug-in crashed:the host's exit codes"
    "41 About..:the menu command ids for --click"
    "A left click on empty space only:that a left click on empty space opens no menu"
)
readme=$(tr -d '\r' <"$dir/README.txt" | tr '\n' ' ' | tr -s ' ')
for answer in "${readme_answers[@]}"; do
    phrase=${answer%%:*}
    grep -qF -- "$phrase" <<<"$readme" || fail "README.txt does not tell ${answer#*:} (\"$phrase\")"
done
grep -qiE 'click (on|in) empty space[^.]*host.s own menu' <<<"$readme" &&
    fail "README.txt still says a click on empty space opens the host's menu"
end_case "the guide: HTML with every picture, no developer text, README.txt answers users' questions"

# ---- the host: a Windows program with a manifest and an icon, and no
# picture generator inside (neither its test files nor a JPEG encoder)
# Read whole first: grep -q leaving a pipe early would fail it under pipefail.
headers=$(x86_64-w64-mingw32-objdump -p "$dir/plexa-host.exe")
grep -qE '^Subsystem[[:space:]]+0+2[[:space:]]+\(Windows GUI\)' <<<"$headers" ||
    fail "plexa-host.exe is not a Windows (GUI) program: $(grep '^Subsystem' <<<"$headers")"
resources=$(x86_64-w64-mingw32-windres -i "$dir/plexa-host.exe" -O rc 2>&1)
grep -q 'Type: group icon' <<<"$resources" || fail "plexa-host.exe has no icon"
texts=$(strings "$dir/plexa-host.exe")
for needed in Microsoft.Windows.Common-Controls '<dpiAware' '<requestedExecutionLevel level="asInvoker"'; do
    grep -qF -- "$needed" <<<"$texts" || fail "plexa-host.exe's manifest lacks $needed"
done
for generator in cut-in-half.jpg headers-minus-one.bmp stone-256.jpg 'JFIF'; do
    grep -qF -- "$generator" <<<"$texts" && fail "plexa-host.exe carries the picture generator (\"$generator\")"
done
# The build's own message names the file it strips.
grep -rqs --include=build.make 'Stripping \$<' "$build" && fail "the build still prints a generator expression as a file name"
grep -rqs --include=build.make 'Stripping plexa-host.exe' "$build" || fail "the build does not say it strips plexa-host.exe"
end_case "plexa-host.exe: Windows GUI program, common-controls and DPI-aware manifest, icon, no generator"

# ---- the unpacked host on the sample desktop
run=$work/run
mkdir -p "$run"
(cd "$run" && WINEPREFIX=${WINEPREFIX:-$build/wineprefix} timeout 300 "$repo_root/tools/wine-run.sh" \
    "$dir/plexa-host.exe" --frames 2 --screenshot shot.png) >"$work/host.txt" 2>&1
status=$?
[[ $status -eq 0 ]] || fail "exit code $status, expected 0:$(sed 's/^/    /' "$work/host.txt")"
[[ $(head -c 8 "$run/shot.png" 2>/dev/null | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] ||
    fail "no PNG screenshot shot.png"
# The pictures the sample desktop needs were all in the zip.
grep -qE '^sample pictures in .*: ([1-9][0-9]*) of \1 there' "$work/host.txt" ||
    fail "the host did not find every sample picture in the unpacked samples folder: $(grep '^sample pictures' "$work/host.txt")"
scenes=0
for n in 00 01 02 03 04 05 06 07; do
    if [[ -s $run/defplx$n.880 ]]; then scenes=$((scenes + 1)); else fail "no scene file defplx$n.880 written"; fi
done
end_case "the unpacked host shows the sample desktop: exit 0, shot.png, $scenes scene files"

# ---- problems a user must hear of: a message box (answered in a --frames
# run, which prints it), worded for users, and the exit code
run_host() {
    local out=$1
    shift
    (cd "$run" && WINEPREFIX=${WINEPREFIX:-$build/wineprefix} timeout 300 "$repo_root/tools/wine-run.sh" \
        "$@" --frames 2) >"$out" 2>&1
}
for folder in lonely damaged; do mkdir -p "$run/$folder" && cp "$dir/plexa-host.exe" "$run/$folder/"; done
head -c 4096 "$dir/plexa.dll" >"$run/damaged/plexa.dll"
run=$run/lonely run_host "$work/missing.txt" "$run/lonely/plexa-host.exe"
status=$?
[[ $status -eq 3 ]] || fail "without plexa.dll beside it: exit code $status, expected 3"
grep -qF 'dialog "Plexa reference host" answered with OK' "$work/missing.txt" &&
    grep -q 'keep plexa.dll in the folder of plexa-host.exe' "$work/missing.txt" ||
    fail "without plexa.dll beside it, no message box telling where it belongs:$(sed 's/^/    /' "$work/missing.txt")"
compgen -G "$run/lonely/defplx*" >/dev/null && fail "without plexa.dll beside it, scene files were left: $(ls "$run/lonely")"
run=$run/damaged run_host "$work/damaged.txt" "$run/damaged/plexa-host.exe"
status=$?
[[ $status -eq 3 ]] || fail "with a damaged plexa.dll: exit code $status, expected 3"
grep -qF 'dialog "Plexa reference host" answered with OK' "$work/damaged.txt" && ! grep -qF '%1' "$work/damaged.txt" ||
    fail "a damaged plexa.dll: no box, or one with an unexpanded %1:$(sed 's/^/    /' "$work/damaged.txt")"
run_host "$work/unsaved.txt" "$dir/plexa-host.exe" --desktop no-such-folder/desktop.txt --screenshot no-such-folder/shot.png
status=$?
[[ $status -eq 1 ]] || fail "desktop and picture unsaveable: exit code $status, expected 1"
[[ $(grep -c 'dialog "Plexa reference host" answered with OK' "$work/unsaved.txt") -eq 2 ]] ||
    fail "desktop and picture unsaveable: not one message box for each:$(sed 's/^/    /' "$work/unsaved.txt")"
grep -qi 'build it' "$work/missing.txt" "$work/unsaved.txt" && fail "developer wording (\"build it\") shown to users"
end_case "message boxes and exit codes: plug-in missing or damaged (3), desktop and picture unsaveable (1)"

finish
