#!/usr/bin/env bash
# The release zip as a user gets it: builds the package target of this build
# tree, checks the sum beside the zip and its exact contents, unpacks it into
# a fresh directory, checks SHA256SUMS.txt there, and runs the unpacked
# plexa-host.exe on the sample desktop under Wine: it must load the unpacked
# plexa.dll, find every sample picture already there, write the sample's
# scene files and a screenshot, and exit 0.
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

# ---- the package builds
rm -f "$zip" "$zip.sha256"
if ! cmake --build "$build" --target package >"$work/build.log" 2>&1; then
    fail "cmake --build $build --target package failed:$(tail -n 40 "$work/build.log" | sed 's/^/    /')"
fi
[[ -f $zip ]] || fail "no $zip"
[[ -f $zip.sha256 ]] || fail "no $zip.sha256 beside it"
end_case "package builds $name.zip and its .sha256"
[[ -f $zip ]] || finish

# ---- the sum beside the zip
if ! (cd "$(dirname "$zip")" && sha256sum --check --strict "$name.zip.sha256") >"$work/sum.log" 2>&1; then
    fail "$name.zip.sha256 does not check:$(sed 's/^/    /' "$work/sum.log")"
fi
grep -qE "^[0-9a-f]{64}  $name\.zip$" "$zip.sha256" || fail "$name.zip.sha256 is not one 'HASH  $name.zip' line: $(cat "$zip.sha256")"
end_case "the zip matches $name.zip.sha256"

# ---- exactly these files, in one folder; no debug information
expected=(
    README.txt
    SHA256SUMS.txt
    plexa-host.exe
    plexa.dll
    samples/checker-64-pal1.bmp
    samples/dot-1x1.bmp
    samples/dot-1x1.jpg
    samples/quad-101x37.bmp
    samples/quad-101x37.jpg
    samples/quad-3x3.bmp
    samples/quad-3x3.jpg
    samples/quad-64-32.bmp
    samples/quad-64-565.bmp
    samples/quad-64-arith.jpg
    samples/quad-64-core-pal4.bmp
    samples/quad-64-core.bmp
    samples/quad-64-pal4.bmp
    samples/quad-64-pal8.bmp
    samples/quad-64-progressive.jpg
    samples/quad-64-rle8.bmp
    samples/quad-64-topdown.bmp
    samples/quad-64.bmp
    samples/quad-64.jpg
    samples/skin-bumps-100.bmp
    samples/skin-bumps-101x37-grey.jpg
    samples/skin-bumps-256x128.jpg
    samples/skin-bumps-64-topdown.bmp
    samples/skin-checker-64-pal8.bmp
    samples/skin-gradient-128x64.bmp
    samples/skin-gradient-128x64.jpg
    samples/skin-gradient-64-rle8.bmp
    samples/stone-256.jpg
    samples/wood-640x480.bmp
    samples/wood-640x480.jpg
    samples/wood-641x481.jpg
)
expected+=(guide/commands.md)
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
    if x86_64-w64-mingw32-objdump -h "$dir/$program" | grep -qE '[[:space:]]\.debug_'; then
        fail "$program carries debug sections"
    fi
done
grep -q "Plexa $version" "$dir/README.txt" || fail "README.txt does not name Plexa $version"
end_case "unpacked: SHA256SUMS.txt checks, programs carry no debug information"

# ---- the unpacked host on the sample desktop
run=$work/run
mkdir -p "$run"
(cd "$run" && WINEPREFIX=${WINEPREFIX:-$build/wineprefix} timeout 300 "$repo_root/tools/wine-run.sh" \
    "$dir/plexa-host.exe" --frames 2 --screenshot shot.png) >"$work/host.txt" 2>&1
status=$?
[[ $status -eq 0 ]] || fail "exit code $status, expected 0:$(sed 's/^/    /' "$work/host.txt")"
[[ $(head -c 8 "$run/shot.png" 2>/dev/null | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] ||
    fail "no PNG screenshot shot.png"
# The pictures the sample desktop needs were all in the zip already.
grep -qE '^sample images in .*: 0 written, [1-9][0-9]* already there' "$work/host.txt" ||
    fail "the host did not find every sample picture in the unpacked samples folder: $(grep '^sample images' "$work/host.txt")"
scenes=0
for n in 00 01 02 03 04 05 06 07; do
    if [[ -s $run/defplx$n.880 ]]; then scenes=$((scenes + 1)); else fail "no scene file defplx$n.880 written"; fi
done
end_case "the unpacked host shows the sample desktop: exit 0, shot.png, $scenes scene files"

finish
