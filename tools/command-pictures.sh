#!/usr/bin/env bash
# Pictures of the popup menu's drawing commands, made by the reference host
# through the plug-in's real menu, and the golden-image check built on them.
#
#     tools/command-pictures.sh --update        redraw docs/commands/*.png and
#                                               write docs/commands.md
#     tools/command-pictures.sh --check NAME DIR
#                                               draw NAME's "after" picture in
#                                               DIR and compare it with
#                                               docs/commands/NAME.png
#     tools/command-pictures.sh --draw NAME DIR [before|after]
#                                               only draw, into DIR/NAME.png
#
# The commands and their scenes are in tools/command-pictures.txt. The build
# is build/win64 (PLEXA_BUILD overrides); without DISPLAY the script runs
# itself under tools/with-display.sh. A check passes when at most
# PLEXA_GOLDEN_MAX_PIXELS pixels differ from the reference by more than
# PLEXA_GOLDEN_FUZZ percent in some channel (the defaults below are sized
# from llvmpipe against softpipe); on failure it leaves DIR/NAME-new.png and
# DIR/NAME-diff.png and names them.
set -uo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
if [[ -z ${DISPLAY:-} && ${1:-} =~ ^--(update|check|draw)$ ]]; then
    exec "$repo_root/tools/with-display.sh" "$0" "$@"
fi

build=${PLEXA_BUILD:-$repo_root/build/win64}
table=$repo_root/tools/command-pictures.txt
docs=$repo_root/docs
wine_run=$repo_root/tools/wine-run.sh
host_exe=$build/plexa-host.exe
sample_folder=golden-samples
samples=$build/$sample_folder

# One object in a small window: at this place and size it fills the middle
# of the picture, and its centre lands on this client point.
size=200x150
position="0 0.45 3"
click_point=100,96
# llvmpipe and softpipe (Mesa 22.3) differ by up to 1,819 pixels of these
# pictures by any amount, by 1 pixel beyond 2% and by none beyond 4%; a
# material shifted by one texel changes at least 891 pixels beyond 6%, a
# swapped colour channel, an inverted skin or a lost blend thousands.
fuzz=${PLEXA_GOLDEN_FUZZ:-6}
max_pixels=${PLEXA_GOLDEN_MAX_PIXELS:-60}

die() { echo "command-pictures.sh: $*" >&2; exit 2; }

trim() { local s=$1; s=${s#"${s%%[![:space:]]*}"}; s=${s%"${s##*[![:space:]]}"}; printf '%s' "$s"; }

# Sets name, id, scene, answer, says, guards from the table's line for $1.
load_command() {
    local line found=
    while IFS= read -r line; do
        [[ -z $line || $line == \#* ]] && continue
        IFS='|' read -r name id scene answer says guards <<<"$line"
        name=$(trim "$name")
        if [[ $name == "$1" ]]; then
            found=1
            break
        fi
    done <"$table"
    [[ -n $found ]] || die "no command $1 in $table"
    id=$(trim "$id"); scene=$(trim "$scene"); answer=$(trim "$answer")
    says=$(trim "$says"); guards=$(trim "$guards")
}

command_names() { grep -vE '^(#|[[:space:]]*$)' "$table" | cut -d'|' -f1 | tr -d ' '; }

# The scene's one block line, in the plug-in's own format.
block_line() {
    local kind=${1%% *} rgb=0.92,0.36,0.22 rot=0,0,0 material=' ' dens=1 skin=' ' skinscale=0.5 trans=0 field
    for field in ${1#* }; do
        case $field in
            rgb=*) rgb=${field#rgb=} ;;
            rot=*) rot=${field#rot=} ;;
            material=*) material="$sample_folder\\${field#material=}" ;;
            dens=*) dens=${field#dens=} ;;
            skin=*) skin="$sample_folder\\${field#skin=}" ;;
            skinscale=*) skinscale=${field#skinscale=} ;;
            trans=*) trans=${field#trans=} ;;
            *) die "unknown scene field $field" ;;
        esac
    done
    local r g b x y z
    IFS=, read -r r g b <<<"$rgb"
    IFS=, read -r x y z <<<"$rot"
    printf '%s ORG[+0.00,+0.00,+0.00] SIZE[+1.60,+1.60,+1.60] ROT[%f,%f,%f] RGB[%+2.2f,%+2.2f,%+2.2f] ' \
        "$kind" "$x" "$y" "$z" "$r" "$g" "$b"
    printf 'TEXTURE[%s] DENS[%2.4f] SKIN[%s] SKINSCALE[%2.4f] SHORTCUT[ ] TRANS[%s] \n' \
        "$material" "$dens" "$skin" "$skinscale" "$trans"
}

# The sample desktop's images, from the project's generator, in a folder of
# their own beside plexa.dll (where stored names are looked up): the host
# fills samples\ there while other tests run, and a picture read half
# written would fail a check. Made once per build tree, moved into place
# whole.
ensure_samples() {
    [[ -d $samples ]] && return 0
    local fresh=$samples.new.$$
    rm -rf "$fresh"
    mkdir -p "$fresh"
    (cd "$fresh" && "$wine_run" "$build/plexa-make-samples.exe" samples . >/dev/null 2>&1)
    if [[ -f $fresh/checker-64-pal1.bmp && -f $fresh/skin-bumps-100.bmp ]]; then
        mv -T "$fresh" "$samples" 2>/dev/null || rm -rf "$fresh"  # another check was first
    else
        rm -rf "$fresh"
    fi
    [[ -d $samples ]] || die "could not make the sample images in $samples"
}

# Draws $name's scene in $1 (before, or after its menu command) as $2; the
# host runs in a directory of its own under $run_root.
draw() {
    local when=$1 out=$2
    local work=$run_root/$name-$when
    rm -rf "$work"
    mkdir -p "$work"
    local rgb=${scene#*rgb=} bytes
    [[ $scene == *rgb=* ]] || rgb=0.92,0.36,0.22
    bytes=$(awk -v c="${rgb%% *}" 'BEGIN { n = split(c, v, ","); for (i = 1; i <= 3; ++i) printf "%02x", int(v[i] * 255 + 0.5) }')
    printf 'plexa-desktop 1\nobject 1 %s\ndata 256 504c5800646566706c7830302e383830\ndata 336 %s\n' \
        "$position" "$bytes" >"$work/desktop.txt"
    printf '880\n//^always first, its the file id !!\n\n%s' "$(block_line "$scene")" >"$work/defplx00.880"
    local args=(--desktop desktop.txt --size "$size" --screenshot shot.png)
    if [[ $when == after ]]; then
        args+=(--frames 6 --click "2,right,$click_point,$id")
        case $answer in
            color=*) args+=(--color "${answer#color=}") ;;
            file=*) args+=(--open-file "Z:${samples//\//\\}\\${answer#file=}") ;;
        esac
    else
        args+=(--frames 3)
    fi
    (cd "$work" && timeout 120 "$wine_run" "$host_exe" "${args[@]}") >"$work/out.txt" 2>&1
    local status=$?
    tr -d '\r' <"$work/out.txt" >"$work/log.txt"
    if [[ $status -ne 0 || ! -f $work/shot.png ]]; then
        echo "$name ($when): the host failed (exit $status):"; sed 's/^/    /' "$work/log.txt"
        return 1
    fi
    if [[ $when == after ]] && ! grep -q "^menu item $id .* chosen" "$work/log.txt"; then
        echo "$name: menu item $id was not chosen:"; sed 's/^/    /' "$work/log.txt"
        return 1
    fi
    if [[ $when == after && $answer == file=* ]] && ! grep -q "file name .* typed in" "$work/log.txt"; then
        echo "$name: the file dialog never got its file name:"; sed 's/^/    /' "$work/log.txt"
        return 1
    fi
    convert "$work/shot.png" -strip -define png:compression-level=9 -define png:compression-filter=5 "$out"
}

# Pixels of $1 and $2 differing by more than the fuzz; the difference
# picture goes to $3. Nothing when the two cannot be compared (compare's
# status 2: a different size, an unreadable file).
differing_pixels() {
    local report status
    report=$(compare -metric AE -fuzz "$fuzz%" "$1" "$2" "$3" 2>&1 >/dev/null)
    status=$?
    if [[ $status -gt 1 ]]; then
        echo "$report" >&2
        return 0
    fi
    awk '{ printf "%d\n", $1 }' <<<"$report"
}

check() {
    local dir=$1 reference=$docs/commands/$name.png
    run_root=$dir
    [[ -f $reference ]] || { echo "$name: no reference picture $reference"; return 1; }
    ensure_samples
    draw after "$dir/$name-new.png" || return 1
    local count
    count=$(differing_pixels "$reference" "$dir/$name-new.png" "$dir/$name-diff.png")
    echo "$name guards $guards: ${count:-all} pixels differ by more than $fuzz% (at most $max_pixels allowed)"
    if [[ -z $count || $count -gt $max_pixels ]]; then
        echo "FAIL: $name no longer draws as docs/commands/$name.png"
        echo "  new picture:        $dir/$name-new.png"
        echo "  difference picture: $dir/$name-diff.png"
        echo "  (a deliberate change: tools/command-pictures.sh --update, then review and commit the pictures)"
        return 1
    fi
    rm -f "$dir/$name-diff.png"
    return 0
}

write_guide() {
    local out=$docs/commands.md
    {
        echo "# The popup menu's drawing commands"
        echo
        echo "Right click an object for the plug-in's popup menu and pick a command: it acts"
        echo "on that object. Each pair below shows one object before (left) and after"
        echo "(right) picking the command. The other items (the shortcut, Help, About)"
        echo "leave the picture as it is, and Exit takes the object off the desktop."
        echo
        echo "Undo, at the top of the menu, takes back the object's last change and"
        echo "names it (\"Undo No Material\", \"Undo Color\" for a colour chosen in the"
        echo "host): the left picture comes back exactly, pictures included. Redo brings"
        echo "the change back until a new one is made. Each object remembers its last"
        echo "100 changes while it is bound; both items are grayed when there is nothing"
        echo "to take back or bring back."
        echo
        # For users: how the pictures are checked (the golden.NAME tests) is
        # said in the README, not here.
        echo "The pictures were taken from Plexa itself, in the reference host"
        echo "plexa-host.exe, by picking each command from the real menu."
        echo
        local n
        for n in $(command_names); do
            load_command "$n"
            local label
            label=$(sed -e 's/\([a-z]\)\([A-Z]\)/\1 \2/g' <<<"$name")
            echo "## $label"
            echo
            echo "![$label, before](commands/$name-before.png) ![$label, after](commands/$name.png)"
            echo
            echo "$says"
            echo
        done
    } >"$out"
}

update() {
    ensure_samples
    mkdir -p "$docs/commands"
    local n failed=0
    run_root=$build/command-pictures
    rm -rf "$run_root"
    mkdir -p "$run_root"
    for n in $(command_names); do
        load_command "$n"
        echo "drawing $name"
        draw before "$docs/commands/$name-before.png" || failed=1
        draw after "$docs/commands/$name.png" || failed=1
    done
    write_guide
    du -ch "$docs"/commands/*.png | tail -n 1
    return $failed
}

[[ -x $host_exe || -f $host_exe ]] || die "no $host_exe: build the win64 preset first"
case ${1:-} in
    --update)
        update
        ;;
    --check)
        [[ $# -eq 3 ]] || die "usage: --check NAME DIR"
        load_command "$2"
        mkdir -p "$3"
        check "$3"
        ;;
    --draw)
        [[ $# -ge 3 ]] || die "usage: --draw NAME DIR [before|after]"
        load_command "$2"
        ensure_samples
        mkdir -p "$3"
        run_root=$3
        draw "${4:-after}" "$3/$name.png"
        ;;
    *)
        sed -n '2,20s/^# \{0,1\}//p' "$0"
        exit 2
        ;;
esac
