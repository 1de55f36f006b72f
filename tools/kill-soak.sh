#!/usr/bin/env bash
# The kill soak of the reference host with plexa.dll under Wine:
#
#     tools/kill-soak.sh [KILLS]      (default 50, about 80 seconds)
#
# Runs sessions of menu edits (Plane and Sphere, Choose Color answered with a
# random colour, No Color, Translucent, Finer and Rougher, the zooms) on the
# sample desktop and kills the host process outright (kill -9, as End task or
# a power cut ends it) at a random moment, until KILLS kills have landed.
# After every kill a clean run of the host reads the scenes back: every edit
# whose command had completed must be there, and every scene file must read
# as a scene. CTest runs the same with 4 kills (plexa_host.kills).
#
# Installs what is missing and brings build/win64 up to date first;
# PLEXA_WIN64_BUILD names another build directory (configured with the mingw
# toolchain).
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
kills=${1:-50}
[[ $kills =~ ^[1-9][0-9]*$ ]] || { echo "usage: kill-soak.sh [KILLS]" >&2; exit 2; }

build=${PLEXA_WIN64_BUILD:-$repo_root/build/win64}
"$repo_root/tools/install-deps.sh"
if [[ -z ${PLEXA_WIN64_BUILD:-} ]]; then
    (cd "$repo_root" && { [[ -f $build/CMakeCache.txt ]] || cmake --preset win64; } && cmake --build --preset win64 --target plexa-host)
else
    cmake --build "$build" -j2 --target plexa-host
fi

# Only this build's prefix: with-display.sh stops the wineserver of the prefix it is given.
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
start=$(date +%s)
set +e
"$repo_root/tools/with-display.sh" bash "$repo_root/tools/plexa-host/tests/host_runs_test.sh" \
    "$build/plexa-host.exe" "$build/kill-soak" --kills "$kills"
status=$?
set -e
echo "kill-soak: $kills kills asked for, $(( $(date +%s) - start )) s"
exit "$status"
