#!/usr/bin/env bash
# The long soak of plexa.dll under Wine:
#
#     tools/soak.sh [CYCLES]        (default 10000, about ten minutes)
#
# Binds, draws, edits (menu commands, the colour protocol, dialogs) and unbinds
# objects CYCLES times, then compares what the process holds after the warm-up
# with what it holds at the end: memory, GDI and USER objects, kernel handles,
# display lists and textures. The figures are printed as the run goes.
#
# Installs what is missing and brings build/win64 up to date first;
# PLEXA_WIN64_BUILD names another build directory (configured with the mingw
# toolchain).
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
cycles=${1:-10000}
[[ $cycles =~ ^[0-9]+$ ]] || { echo "usage: soak.sh [CYCLES]" >&2; exit 2; }

build=${PLEXA_WIN64_BUILD:-$repo_root/build/win64}
"$repo_root/tools/install-deps.sh"
if [[ -z ${PLEXA_WIN64_BUILD:-} ]]; then
    # Incremental: a build left from older sources is brought up to date.
    (cd "$repo_root" && { [[ -f $build/CMakeCache.txt ]] || cmake --preset win64; } && cmake --build --preset win64)
else
    cmake --build "$build" -j2
fi

# Only this build's prefix: with-display.sh stops the wineserver of the prefix it is given.
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
export PLEXA_SOAK_CYCLES=$cycles
start=$(date +%s)
set +e
# Wine's file dialog complains about Z:\ on every use; the rest is the test's log.
"$repo_root/tools/with-display.sh" "$repo_root/tools/wine-run.sh" "$build/plexa_soak_test.exe" \
    --gtest_filter='Soak.*' 2>&1 | grep --line-buffered -v 'FS volume label and serial are not available'
status=${PIPESTATUS[0]}
set -e
echo "soak: $cycles cycles in $(( $(date +%s) - start )) s"
exit "$status"
