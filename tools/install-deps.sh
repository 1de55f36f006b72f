#!/usr/bin/env bash
# Installs the Debian packages that building and testing Plexa needs, and
# nothing when they are all there already (so tools/check.sh stays fast on a
# machine that has run it before).
set -euo pipefail

packages=(
    # native build, sanitizers, fuzzers, benchmarks
    cmake make g++ clang libclang-rt-dev dpkg-dev xz-utils
    # checking Debian's signed indices (cmake/DebianSource.cmake)
    gpgv debian-archive-keyring
    libgtest-dev googletest libbenchmark-dev
    libgl1-mesa-dev libglu1-mesa-dev libosmesa6-dev libjpeg62-turbo-dev
    # the Win64 DLL and its tests under Wine
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
    wine wine64 xvfb xauth x11-utils
    # assets and tooling
    nasm imagemagick libjpeg-turbo-progs libstb-dev
    # the release package: its HTML guide, the zips and their check
    cmark zip unzip
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [[ $status == installed ]] && continue
    missing+=("$p")
done

if [[ ${#missing[@]} -eq 0 ]]; then
    echo "install-deps.sh: all ${#packages[@]} packages present"
    exit 0
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "install-deps.sh: not root and no sudo; install: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
fi

echo "install-deps.sh: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}" </dev/null
