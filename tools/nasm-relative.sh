#!/usr/bin/env bash
# nasm, given the source file relative to the folder it assembles in. nasm
# writes the name as given into the object (its .file symbol), and it has no
# prefix map: an absolute name would carry the build folder's path into the
# debug files. The relative one is the same in every build folder.
set -euo pipefail
args=("$@")
last=$((${#args[@]} - 1))
if [[ $last -ge 1 && ${args[last]} == /*.asm && -f ${args[last]} ]]; then
    args[last]=$(realpath -s --relative-to=. "${args[last]}")
    exec nasm --reproducible "${args[@]}"
fi
exec nasm "$@"
