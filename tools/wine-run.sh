#!/usr/bin/env bash
# Runs one Windows program under Wine and exits with its exit code.
#
# CTest uses this as CMAKE_CROSSCOMPILING_EMULATOR, both to list a test
# program's cases and to run them:   wine-run.sh program.exe [arguments...]
#
# DISPLAY must already name a running X server (tools/with-display.sh starts
# one for a whole test run): a wineserver whose desktop came up without a
# display keeps denying OpenGL to every later program of the prefix.
#
# WINEPREFIX, when not set, is <build dir>/wineprefix, the build dir being the
# nearest folder above the program that holds a CMakeCache.txt. The first
# program to use a prefix creates it; the others wait on a lock meanwhile,
# because ctest -jN starts several at once.
set -euo pipefail

die() { echo "wine-run.sh: $*" >&2; exit 125; }

[[ $# -ge 1 ]] || die "usage: wine-run.sh program.exe [arguments...]"
exe=$1
shift
[[ -f $exe ]] || die "no such program: $exe"

if [[ -z ${DISPLAY:-} ]]; then
    die "DISPLAY is not set. Windows tests need an X server; run them inside tools/with-display.sh, e.g.
    tools/with-display.sh ctest --preset win64"
fi

find_build_dir() {
    local dir
    dir=$(cd "$(dirname "$1")" && pwd -P)
    while [[ $dir != / ]]; do
        [[ -f $dir/CMakeCache.txt ]] && { echo "$dir"; return 0; }
        dir=$(dirname "$dir")
    done
    return 1
}

if [[ -z ${WINEPREFIX:-} ]]; then
    build_dir=$(find_build_dir "$exe") || build_dir=$(find_build_dir "$PWD/.") ||
        die "WINEPREFIX is not set and $exe is not inside a CMake build tree"
    WINEPREFIX=$build_dir/wineprefix
fi
[[ $WINEPREFIX == /* ]] || WINEPREFIX=$PWD/$WINEPREFIX
export WINEPREFIX
export WINEARCH=win64
export WINEDEBUG=${PLEXA_WINEDEBUG:--all}
# No Mono or Gecko install prompts, and no menu entries written into $HOME.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

wine=${PLEXA_WINE:-wine}
command -v "$wine" >/dev/null || die "$wine not found (tools/install-deps.sh installs it)"

# Bump the version when init_prefix changes, so existing prefixes get redone.
ready_mark=$WINEPREFIX/.plexa-prefix-ready-2

init_prefix() {
    echo "wine-run.sh: setting up Wine prefix $WINEPREFIX" >&2
    # A server left from an older setup (or a persistent one) would make the
    # wait below endless.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w
    "$wine" wineboot -i </dev/null >/dev/null 2>&1 || die "wineboot -i failed for $WINEPREFIX"
    reg_add 'HKCU\Software\Wine\WineDbg' ShowCrashDialog REG_DWORD 0
    reg_add 'HKCU\Software\Wine\X11 Driver' Managed REG_SZ N
    # Let the registry reach the disk before anyone else uses the prefix.
    wineserver -w
    touch "$ready_mark"
}

# ShowCrashDialog=0: a crashing test fails with a backtrace on stderr instead
# of waiting on the crash dialog until it times out.
# Managed=N: Xvfb runs no window manager, and for WM-managed windows Wine waits
# 2 s on every DestroyWindow of a shown window (each window, each message box)
# for a state change that only a window manager would make.
reg_add() {
    "$wine" reg add "$1" /v "$2" /t "$3" /d "$4" /f </dev/null >/dev/null 2>&1 ||
        die "could not set $1\\$2 in $WINEPREFIX"
}

# Inside tools/with-display.sh, one persistent wineserver per prefix serves the
# whole run: Wine's system processes and desktop then start once instead of
# once per test (about a second each), and no test starts while the previous
# test's server is shutting down. with-display.sh kills the servers listed.
session_list=
if [[ -n ${PLEXA_WINE_SESSION:-} && -d $PLEXA_WINE_SESSION ]]; then
    session_list=$PLEXA_WINE_SESSION/prefixes
fi
in_session() { [[ -z $session_list ]] || grep -Fxqs -- "$WINEPREFIX" "$session_list"; }

if [[ ! -e $ready_mark ]] || ! in_session; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    [[ -e $ready_mark ]] || init_prefix
    if ! in_session; then
        # A server still running here is left from a run that was killed, and
        # may belong to a display that is gone.
        wineserver -k >/dev/null 2>&1 9>&- || true
        wineserver -w 9>&-
        # What starts here outlives this program, so none of it may inherit
        # ctest's output pipe (ctest would wait for it to close): neither the
        # server nor Wine's services and desktop process, which the first
        # program to make a window brings up (rundll32 makes a hidden one).
        wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
        "$wine" rundll32.exe kernel32.dll,GetCurrentProcessId </dev/null >/dev/null 2>&1 9>&- || true
        echo "$WINEPREFIX" >>"$session_list"
    fi
    flock -u 9
    exec 9>&-
fi

exec "$wine" "$exe" "$@"
