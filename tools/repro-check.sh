#!/usr/bin/env bash
# Builds the release of the last commit twice, in two fresh build folders at
# different paths (and different depths), and compares the release zip and
# the debug zip of the two byte for byte. Where they differ it names the
# entries that do. The source is the commit as `git archive` exports it, so
# edits made meanwhile change nothing, and the date comes the way a tree
# without .git has it (cmake/source-date.txt).
#
#   tools/repro-check.sh [--keep]     --keep leaves the two builds in /tmp
#
# Not part of tools/check.sh: it builds the release from scratch twice. The
# Debian sources of libjpeg-turbo, libpng and zlib are fetched once for both
# (PLEXA_DEBIAN_SOURCE_CACHE, if set, is used as is). Exits 0 when both zips
# are identical.
set -uo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
keep=0
[[ ${1:-} == --keep ]] && keep=1

work=$(mktemp -d /tmp/plexa-repro.XXXXXX)
[[ $keep -eq 1 ]] || trap 'rm -rf "$work"' EXIT
export PLEXA_DEBIAN_SOURCE_CACHE=${PLEXA_DEBIAN_SOURCE_CACHE:-$work/sources}
builds=("$work/first" "$work/second/at/another/depth")
source=$work/source
mkdir -p "$source" && git -C "$repo_root" archive HEAD | tar -x -C "$source" || { echo "repro-check: git archive failed"; exit 2; }
echo "source: $(git -C "$repo_root" log -1 --format='%h %ci') (cmake/source-date.txt: $(cat "$source/cmake/source-date.txt"))"
version=$(sed -n 's/^project(plexa VERSION \([0-9.]*\) .*/\1/p' "$source/CMakeLists.txt")
zips=("plexa-$version-win64.zip" "plexa-$version-win64-debug.zip")

for build in "${builds[@]}"; do
    echo "==== building the release in $build"
    mkdir -p "$build"
    if ! (cd "$source" && cmake --preset win64 -B "$build" >"$build.log" 2>&1 &&
        cmake --build "$build" --target package --parallel 2 >>"$build.log" 2>&1); then
        tail -n 30 "$build.log"
        echo "repro-check: the build in $build failed (log above)"
        exit 2
    fi
done

status=0
for zip in "${zips[@]}"; do
    one=${builds[0]}/package/$zip two=${builds[1]}/package/$zip
    if cmp -s "$one" "$two"; then
        echo "identical: $zip ($(stat -c %s "$one") bytes, SHA-256 $(sha256sum "$one" | cut -c1-64))"
        continue
    fi
    status=1
    echo "DIFFERENT: $zip"
    mkdir -p "$work/unpacked/1" "$work/unpacked/2"
    unzip -q -o "$one" -d "$work/unpacked/1" && unzip -q -o "$two" -d "$work/unpacked/2"
    diff -rq "$work/unpacked/1" "$work/unpacked/2" | sed 's/^/    /'
    diff <(unzip -Zv "$one" | grep -vE '^(Archive|Zip file size)') <(unzip -Zv "$two" | grep -vE '^(Archive|Zip file size)') |
        head -n 20 | sed 's/^/    /'
    rm -rf "$work/unpacked"
done
[[ $keep -eq 1 ]] && echo "the two builds: ${builds[*]}"
if [[ $status -eq 0 ]]; then echo "repro-check: both zips identical"; else echo "repro-check: the zips differ"; fi
exit $status
