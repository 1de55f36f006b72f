#!/usr/bin/env bash
# A host folder that cannot be written, for the folder tests under Wine.
#   setup DIR: DIR/desk shows DIR/source (two scene files) through a
#   read-only bind mount, made on the Linux side where the Wine server sees
#   it (as root, file modes alone do not stop Wine); where mounting is
#   refused, DIR/refused says so and the tests skip.
#   cleanup DIR [--keep]: unmounts, and removes DIR unless --keep.
set -uo pipefail
dir=$2
case $1 in
setup)
    "$0" cleanup "$dir"
    mkdir -p "$dir/source" "$dir/desk"
    printf '880\nPLANE8 RGB[0.5,0.5,0.5]\n' >"$dir/source/defplx00.880"
    printf '880\nSPHERE6 RGB[0.5,0.5,0.5]\n' >"$dir/source/defplx01.880"
    if ! { mount --bind "$dir/source" "$dir/desk" && mount -o remount,bind,ro "$dir/desk"; } 2>"$dir/refused" ||
        touch "$dir/desk/writable" 2>/dev/null; then
        echo "mounting refused: $(cat "$dir/refused")"
        mountpoint -q "$dir/desk" && umount "$dir/desk"
        rm -f "$dir/source/writable"
        echo "mounting refused" >>"$dir/refused"
    else
        rm -f "$dir/refused"
    fi
    ;;
cleanup)
    mountpoint -q "$dir/desk" 2>/dev/null && umount "$dir/desk"
    [[ ${3:-} == --keep ]] || rm -rf "$dir"
    ;;
*) echo "usage: readonly_folder.sh setup|cleanup DIR" >&2; exit 2 ;;
esac
exit 0
