#!/usr/bin/env bash
# The main job: build the plug-in and the reference host, then run the host
# twice on a fresh desktop in build/demo/ to show a scene surviving from one
# run to the next.
#
#   tools/demo.sh               interactive when DISPLAY is set (close the
#                               window to end each run), headless otherwise
#   tools/demo.sh --headless    headless even with a display
#   tools/demo.sh --frames N    frames per headless run (default 30)
#
# Run 1 starts from the sample desktop: every object is new to the plug-in,
# which greets it (About box) and writes its scene file defplxNN.880 at exit;
# the host saves the tags in build/demo/desktop.txt. Between the runs the
# demo recolours the middle object's scene file. Run 2 reads the saved
# desktop: the objects are tagged, find their scenes again (the middle one
# drawn in the new colour) and write them back. Each run leaves a
# screenshot: build/demo/desktop-run1.png, then build/demo/desktop.png.
set -euo pipefail

script=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)/$(basename "${BASH_SOURCE[0]}")
repo_root=$(dirname "$(dirname "$script")")
cd "$repo_root"

headless=0
frames=30
while [[ $# -gt 0 ]]; do
    case $1 in
        --headless) headless=1 ;;
        --frames)
            [[ $# -ge 2 && $2 =~ ^[1-9][0-9]*$ ]] || { echo "demo.sh: --frames wants a positive number" >&2; exit 2; }
            frames=$2
            shift
            ;;
        -h | --help) sed -n '2,17p' "$script" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "demo.sh: unknown argument $1 (try --help)" >&2; exit 2 ;;
    esac
    shift
done
[[ -n ${DISPLAY:-} ]] || headless=1

if [[ -x tools/install-deps.sh ]]; then
    tools/install-deps.sh ||
        echo "demo.sh: tools/install-deps.sh failed; building with what is installed" >&2
fi

echo "==== building plexa.dll and plexa-host.exe"
cmake --preset win64
cmake --build --preset win64 --target plexa-host

host_exe=$repo_root/build/win64/plexa-host.exe
demo_dir=$repo_root/build/demo
# A fresh desktop each time, so that run 1 shows objects new to the plug-in.
rm -rf "$demo_dir"
mkdir -p "$demo_dir"

run_host() {
    local run=$1
    local screenshot=desktop-run1.png
    [[ $run -eq 2 ]] && screenshot=desktop.png
    local args=(--desktop desktop.txt --screenshot "$screenshot")
    if [[ $headless -eq 1 ]]; then
        args+=(--frames "$frames")
    else
        echo "(close the window to end run $run)"
    fi
    # The scene files land in the host's current directory. Headless runs get
    # an Xvfb of their own even when a display is set, with the Wine server
    # started and stopped around it.
    if [[ $headless -eq 1 ]]; then
        (cd "$demo_dir" && "$repo_root/tools/with-display.sh" "$repo_root/tools/wine-run.sh" "$host_exe" "${args[@]}")
    else
        (cd "$demo_dir" && "$repo_root/tools/wine-run.sh" "$host_exe" "${args[@]}")
    fi
}

show_results() {
    echo "---- scene files in build/demo:"
    (cd "$demo_dir" && ls -l defplx*.880) || echo "(none written)"
    local first
    first=$(cd "$demo_dir" && ls defplx*.880 2>/dev/null | head -n1 || true)
    if [[ -n $first ]]; then
        echo "---- first lines of $first:"
        head -n 6 "$demo_dir/$first"
    fi
    echo "---- objects in build/demo/desktop.txt:"
    grep -E '^(object|# tag|# not yet)' "$demo_dir/desktop.txt" || echo "(no desktop file written)"
}

echo
echo "==== run 1: the sample desktop, every object new to the plug-in"
run_host 1
show_results

# What the popup menu's "Choose Color" would leave behind, done by hand so
# that a headless run shows it too: run 2 must read the colour back and write
# it out again at exit.
middle_scene=$demo_dir/defplx01.880
if [[ -f $middle_scene ]]; then
    sed -i 's/RGB\[[^]]*\]/RGB[+1.00,+0.25,+0.20]/' "$middle_scene"
    echo
    echo "---- between the runs: defplx01.880 recoloured by hand:"
    grep -o 'RGB\[[^]]*\]' "$middle_scene"
fi

echo
echo "==== run 2: the saved desktop, every object tagged and finding its scene again"
run_host 2
show_results
if [[ -f $middle_scene ]]; then
    echo "---- defplx01.880 after run 2 (the colour set between the runs must still be there):"
    grep -o 'RGB\[[^]]*\]' "$middle_scene"
fi

echo
echo "Screenshots: build/demo/desktop-run1.png (run 1), build/demo/desktop.png (run 2)"
