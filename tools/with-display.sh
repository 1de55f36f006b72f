#!/usr/bin/env bash
# Runs a command with one private Xvfb as DISPLAY, then shuts Wine and the X
# server down again, and exits with the command's status:
#
#     tools/with-display.sh ctest --preset win64
#
# Every Wine program of a test run must share this one X server. A wineserver
# that started before the display, or outlived an earlier one, silently gives
# later programs of its prefix no OpenGL, so the wineserver of each prefix is
# killed both before the command and after it: those tools/wine-run.sh used
# during the run (it keeps one persistent server per prefix while this script
# runs), $WINEPREFIX when set, otherwise every build/*/wineprefix here.
set -uo pipefail

die() { echo "with-display.sh: $*" >&2; exit 125; }

[[ $# -ge 1 ]] || die "usage: with-display.sh command [arguments...]"
command -v Xvfb >/dev/null || die "Xvfb not found (tools/install-deps.sh installs it)"

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
unset PLEXA_WINE_SESSION
session_dir=

wine_prefixes() {
    # Those that tools/wine-run.sh started a server for during this run.
    if [[ -n ${PLEXA_WINE_SESSION:-} && -f $PLEXA_WINE_SESSION/prefixes ]]; then
        sort -u "$PLEXA_WINE_SESSION/prefixes"
    fi
    if [[ -n ${WINEPREFIX:-} ]]; then
        [[ -d $WINEPREFIX ]] && echo "$WINEPREFIX"
    else
        local p
        for p in "$repo_root"/build/*/wineprefix; do
            [[ -d $p ]] && echo "$p"
        done
    fi
    return 0
}

stop_wine() {
    command -v wineserver >/dev/null || return 0
    local prefix
    while IFS= read -r prefix; do
        WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
        WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1
    done < <(wine_prefixes)
}

xvfb_pid=
display_lock_fd=

stop_display() {
    if [[ -n $xvfb_pid ]]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=
    fi
    if [[ -n $display_lock_fd ]]; then
        exec {display_lock_fd}>&-
        display_lock_fd=
    fi
}

cleanup() {
    stop_wine
    stop_display
    [[ -z $session_dir ]] || rm -rf "$session_dir"
}

# Tries display :$1. Our own lock keeps two runs of this script from racing
# for the same number; the X lock file and socket show servers started by
# anyone else.
start_xvfb_on() {
    local n=$1 lock=/tmp/.plexa-xvfb-$1.lock
    exec {display_lock_fd}>>"$lock" || { display_lock_fd=; return 1; }
    if ! flock -n "$display_lock_fd"; then
        exec {display_lock_fd}>&-; display_lock_fd=; return 1
    fi
    if [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]]; then
        exec {display_lock_fd}>&-; display_lock_fd=; return 1
    fi
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >"$session_dir/xvfb.log" 2>&1 &
    xvfb_pid=$!
    local i
    for ((i = 0; i < 100; i++)); do
        [[ -S /tmp/.X11-unix/X$n ]] && return 0
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    stop_display
    return 1
}

trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

stop_wine
session_dir=$(mktemp -d /tmp/plexa-wine-session.XXXXXX) || die "mktemp failed"
export PLEXA_WINE_SESSION=$session_dir

display=
for ((n = 90; n <= 120; n++)); do
    if start_xvfb_on "$n"; then display=:$n; break; fi
done
if [[ -z $display ]]; then
    [[ -s $session_dir/xvfb.log ]] && tail -n 5 "$session_dir/xvfb.log" >&2
    die "could not start Xvfb on any free display in :90..:120"
fi
export DISPLAY=$display
unset XAUTHORITY

"$@"
status=$?
exit "$status"
