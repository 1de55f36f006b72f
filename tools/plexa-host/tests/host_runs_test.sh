#!/usr/bin/env bash
# Runs plexa-host.exe with the real plexa.dll under Wine and checks what a
# user relies on: the sample desktop arrives with its scenes and leaves the
# user's scene files alone; the desktop file keeps each object's tag and scene
# file name, so a second run finds every scene again; what the screenshot
# shows is where clicks find the objects, drawn in their colours, far ones
# first so translucent ones show them; dragging moves an object under the
# cursor; items chosen from the plug-in's real popup menu reach it (the
# colour through the host's colour dialog, Exit unbinding the object) and the
# open menu can be captured; objects removed or copied leave every other
# scene file as it was; a file the host cannot use is never overwritten;
# a missing plug-in is a clear error, not a crash. Pixels are read with ImageMagick's convert.
#
#   host_runs_test.sh <plexa-host.exe> <scratch directory> [--kills N]
#
# With --kills, only the kill soak: sessions of menu edits killed outright
# until N kills have landed, each followed by a run that must show every
# completed edit.
#
# DISPLAY must name a running X server (CTest runs inside
# tools/with-display.sh). Ends with "N passed, N failed".
set -uo pipefail

host_exe=$1
scratch=$2
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd -P)
wine_run=$repo_root/tools/wine-run.sh

passed=0
failed=0
case_failures=0
case_dir=

fail() {
    echo "  $*"
    case_failures=$((case_failures + 1))
}

# Runs the host in the case's directory; output in $case_dir/out.txt, exit
# code in $status.
run_host() {
    (cd "$case_dir" && timeout 180 "$wine_run" "$host_exe" "$@") >"$case_dir/out.txt" 2>&1
    status=$?
}

expect_status() {
    [[ $status -eq $1 ]] || fail "exit code $status, expected $1; output:$(sed 's/^/    /' "$case_dir/out.txt")"
}

expect_output() {
    grep -qF -- "$1" "$case_dir/out.txt" || fail "output lacks: $1"
}

count_output() {
    grep -cF -- "$1" "$case_dir/out.txt"
}

begin_case() {
    case_failures=0
    case_dir=$scratch/$1
    rm -rf "$case_dir"
    mkdir -p "$case_dir"
}

end_case() {
    if [[ $case_failures -eq 0 ]]; then
        passed=$((passed + 1))
        echo "ok   $1"
    else
        failed=$((failed + 1))
        echo "FAIL $1"
    fi
}

# Block line of a scene file: its only line that starts with a kind word.
block_line() {
    grep -aE '^(SPHERE|PLANE|CUBE|TRIANGLE|CYLINDER)' "$1" | tr -d '\r' | head -n 1
}

# Scene file that desktop.txt of the case names for object $1.
scene_of() {
    awk -v k="$1" '$1 == "object" { key = $2 } $1 == "#" && $2 == "tag" && key == k { sub(",", "", $6); print $6; exit }' \
        "$case_dir/desktop.txt"
}

# "R G B" of the screenshot's pixel at x, y.
pixel() {
    convert "$1" -crop "1x1+$2+$3" +repage -depth 8 txt:- 2>/dev/null |
        sed -n '2s/^[^(]*(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3/p'
}

# "X Y" where the last screenshot of the case showed object $1.
on_screen() {
    grep -F "on screen: key=$1 at " "$case_dir/out.txt" | tail -n 1 | tr -d '\r' |
        sed 's/.* at \([0-9]*\),\([0-9]*\)$/\1 \2/'
}

# Checks that channel $3 (0 red, 1 green, 2 blue) is the brightest at the
# screenshot's point for object $2, by a clear margin.
expect_hue() {
    local shot=$1 key=$2 channel=$3 xy rgb
    xy=$(on_screen "$key")
    [[ -n $xy ]] || { fail "no on-screen point reported for key=$key"; return; }
    rgb=$(pixel "$shot" $xy)
    [[ -n $rgb ]] || { fail "cannot read pixel $xy of $shot"; return; }
    local -a c=($rgb)
    local mine=${c[$channel]} other=0 i
    for i in 0 1 2; do
        [[ $i -ne $channel && ${c[$i]} -gt $other ]] && other=${c[$i]}
    done
    [[ $mine -ge $((other + 40)) ]] || fail "key=$key at $xy is ($rgb), not clearly of channel $channel"
}

# Writes scene file $1 in the current case, holding one block: kind $2 with
# size $3, rotation $4, colour $5 and translucency $6.
scene_file() {
    printf '880\n%s ORG[0,0,0] SIZE[%s] ROT[%s] RGB[%s] TEXTURE[ ] DENS[1] SKIN[ ] SKINSCALE[0.5] SHORTCUT[ ] TRANS[%s] \n' \
        "$2" "$3" "$4" "$5" "$6" >"$case_dir/$1"
}

# --- A host killed outright ----------------------------------------------
# "KIND FINENESS R G B DENSITY TRANSLUCENCY" of a scene file's block: what the
# menu edits below change.
scene_state() {
    block_line "$1" | sed -E 's/^([A-Z]+)([0-9]+) .*RGB\[([^]]*)\].*DENS\[([^]]*)\].*TRANS\[([^]]*)\].*/\1 \2 \3 \4 \5/' |
        tr ',' ' ' | awk 'NF == 7 { printf "%s %d %.2f %.2f %.2f %.4f %d\n", $1, $2, $3, $4, $5, $6, $7 }'
}

# State $1 after the plug-in's menu command $2; 2041 is the host's colour
# reply, "R G B" in $3.
after_edit() {
    awk -v id="$2" -v rgb="${3:-}" '{
        k = $1; f = $2; r = $3; g = $4; b = $5; d = $6; t = $7
        if (id == 20) k = "SPHERE"
        else if (id == 21) k = "PLANE"
        else if (id == 22) d *= 2
        else if (id == 24) d /= 2
        else if (id == 25) r = g = b = 1
        else if (id == 29) f = int(f / 2) <= 8 ? 8 : int(f / 2)
        else if (id == 30) f = f <= 4 ? 8 : (2 * f > 1024 ? 1024 : 2 * f)
        else if (id == 36) t = t > 0 ? 0 : 1
        else if (id == 2041) { split(rgb, c, " "); r = c[1] / 255; g = c[2] / 255; b = c[3] / 255 }
        printf "%s %d %.2f %.2f %.2f %.4f %d\n", k, f, r, g, b, d, t
    }' <<<"$1"
}

# Sessions of menu edits on the sample desktop, each but the first killed
# (kill -9 of this run's own host process, as End task does) at a random
# moment, until $1 kills have landed. After each, a clean run reads the
# scenes back: every edit the host had seen complete ("command done", or the
# colour forwarded) must be there, the one in flight may be, and no scene
# file may have been unreadable (kept aside).
kill_soak() {
    local kills=$1 landed=0 session=0 edits=0 duration= key id line colour delay pid
    local -a keys args
    local -A want=() point=()
    begin_case kills
    run_host --frames 2 --screenshot shot.png
    expect_status 0
    while read -r key; do
        line=$(on_screen "$key")
        [[ -z $line || $line == *view* ]] && continue
        keys+=("$key")
        point[$key]=${line/ /,}
        want[$key]=$(scene_state "$case_dir/$(scene_of "$key")")
    done < <(grep '^object ' "$case_dir/desktop.txt" | awk '{print $2}')
    [[ ${#keys[@]} -ge 4 ]] || fail "the sample desktop shows ${#keys[@]} objects, 4 wanted"
    while ((case_failures == 0 && landed < kills && session < 3 * kills)); do
        session=$((session + 1))
        colour="$((RANDOM % 256)),$((RANDOM % 256)),$((RANDOM % 256))"
        args=(--frames 14 --color "$colour")
        # Six edits; fineness and density kept where drawing stays quick.
        for ((frame = 1; frame < 13; frame += 2)); do
            key=${keys[RANDOM % ${#keys[@]}]}
            read -r kind fineness _ _ _ density _ <<<"${want[$key]}"
            case $((RANDOM % 6)) in
                0) id=$([[ $kind == SPHERE ]] && echo 21 || echo 20) ;;
                1) id=32 ;;
                2) id=25 ;;
                3) id=36 ;;
                4) id=$((fineness < 48 ? 30 : 29)) ;;
                *) id=$((${density%%.*} < 2 ? 22 : 24)) ;;
            esac
            args+=(--click "$frame,right,${point[$key]},$id")
        done
        local started=$EPOCHREALTIME
        (cd "$case_dir" && exec "$wine_run" "$host_exe" "${args[@]}") >"$case_dir/session.txt" 2>&1 &
        pid=$!
        delay=
        if [[ -n $duration ]]; then
            delay=$(awk -v d="$duration" -v r=$RANDOM 'BEGIN { printf "%.3f", 0.1 + (d - 0.1) * r / 32767 }')
            sleep "$delay"
            if [[ $(cat "/proc/$pid/comm" 2>/dev/null) == plexa-host.exe ]] && kill -9 "$pid" 2>/dev/null; then
                landed=$((landed + 1))
            else
                delay=
            fi
        fi
        # Quietly: bash reports a killed job on stderr.
        wait "$pid" 2>/dev/null
        status=$?
        # Kills are timed within the last session that ran to its end.
        [[ -n $delay ]] || duration=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')
        [[ -n $delay || $status -eq 0 ]] || fail "session $session ended with exit code $status"

        # What the host saw complete, and the edit under way when it died.
        local menu_key= flight_key= flight_id= flight_rgb= complete=0
        while IFS= read -r line; do
            case $line in
            "right click on key="*": plug-in opens its menu")
                menu_key=${line#*key=} menu_key=${menu_key%%:*} ;;
            "menu item "*'" chosen')
                id=${line#menu item } id=${id%% *}
                [[ $id == 32 ]] || { flight_key=$menu_key flight_id=$id; } ;;
            "command done: key="*" id=32")
                key=${line#*key=} flight_key=${key%% *} flight_id=2041 flight_rgb=${colour//,/ } ;;
            "command done: key="*)
                key=${line#*key=} key=${key%% *} id=${line##*id=}
                want[$key]=$(after_edit "${want[$key]}" "$id") flight_key= complete=$((complete + 1)) ;;
            "colour for key="*" forwarded")
                key=${line#*key=} key=${key%%:*}
                want[$key]=$(after_edit "${want[$key]}" 2041 "$(sed 's/.*: \([0-9]* [0-9]* [0-9]*\) .*/\1/' <<<"$line")")
                flight_key= complete=$((complete + 1)) ;;
            esac
        done < <(tr -d '\r' <"$case_dir/session.txt")
        edits=$((edits + complete))
        [[ -n $delay ]] && echo "  kill $landed after $delay s: $complete edits complete${flight_key:+, one in flight}"

        run_host --frames 1
        expect_status 0
        for key in "${keys[@]}"; do
            line=$(scene_state "$case_dir/$(scene_of "$key")")
            if [[ $line != "${want[$key]}" ]] && ! [[ $key == "$flight_key" &&
                $line == "$(after_edit "${want[$key]}" "$flight_id" "$flight_rgb")" ]]; then
                fail "session $session${delay:+ killed after $delay s}: key=$key shows \"$line\", not \"${want[$key]}\""
            fi
            want[$key]=$line
        done
        line=$(cd "$case_dir" && ls | grep -E '\.(bad|kept)[0-9]*$')
        [[ -z $line ]] || fail "session $session: the next run could not read" $line
    done
    ((case_failures > 0 || landed >= kills)) || fail "only $landed of $session sessions were killed while the host ran"
    echo "  $landed kills in $session sessions of about $duration s, $edits edits complete"
    end_case "a host killed outright loses no edit whose command had completed"
}

if [[ ${3:-} == --kills ]]; then
    kill_soak "${4:-4}"
    echo "$passed passed, $failed failed"
    [[ $failed -eq 0 ]]
    exit
fi

# --- The sample desktop, then the same desktop again ----------------------
begin_case sample
run_host --frames 2
expect_status 0
objects=$(grep -c '^bound object key=' "$case_dir/out.txt")
[[ $objects -ge 2 ]] || fail "the sample desktop bound $objects objects"
[[ $(count_output "(tagged, finds its scene again)") -eq $objects ]] ||
    fail "not every sample object came tagged with its scene file"
# Tagged objects are not new to the plug-in: no About box.
expect_output "0 dialogs answered"
for ((n = 0; n < objects; n++)); do
    name=$(printf 'defplx%02d.880' "$n")
    said=$(grep -F "sample scene file $name written: " "$case_dir/out.txt" | tr -d '\r')
    if [[ -z $said ]]; then
        fail "the host did not write $name"
        continue
    fi
    grep -q "^# tag PLX, scene file $name" "$case_dir/desktop.txt" ||
        fail "desktop.txt does not keep the tag and name of $name"
    # What the plug-in wrote back at exit is what it read: the sample's kind,
    # fineness and colour, or it misread the host's line.
    kind=$(sed 's/.*written: \([A-Z]*[0-9]*\),.*/\1/' <<<"$said")
    read -r r g b < <(sed 's/.*colour \([^ ,]*\) \([^ ,]*\) \([^ ,]*\).*/\1 \2 \3/' <<<"$said")
    rgb=$(LC_ALL=C printf 'RGB[%+.2f,%+.2f,%+.2f]' "$r" "$g" "$b")
    line=$(block_line "$case_dir/$name")
    [[ $line == "$kind "* && $line == *"$rgb"* ]] || fail "$name holds \"$line\", not $kind with $rgb"
done
[[ $(grep -c 'TRANS\[1\]' "$case_dir"/defplx*.880 | grep -vc ':0$') -ge 1 ]] || fail "no translucent sample object"
[[ ! -e $case_dir/desktop.txt.tmp ]] || fail "the temporary desktop file was left behind"
first_desktop=$(cat "$case_dir/desktop.txt" 2>/dev/null)
first_scenes=$(cat "$case_dir"/defplx*.880 2>/dev/null)

run_host --frames 2
expect_status 0
[[ $(count_output "(tagged, finds its scene again)") -eq $objects ]] || fail "the second run did not find all objects tagged"
[[ $(count_output "sample scene file") -eq 0 ]] || fail "the second run wrote sample scene files again"
expect_output "0 dialogs answered"
[[ $(cat "$case_dir/desktop.txt" 2>/dev/null) == "$first_desktop" ]] ||
    fail "an unchanged desktop came out different from the second run"
[[ $(cat "$case_dir"/defplx*.880 2>/dev/null) == "$first_scenes" ]] ||
    fail "the scenes came out different from the second run"
end_case "the sample desktop comes with its scenes and finds them again"

begin_case user-scenes
scene_file defplx01.880 PLANE8 2,1,1 0,0,0 0.10,0.20,0.30 0
run_host --frames 1
expect_status 0
expect_output "scene file defplx01.880 already there: kept"
[[ $(count_output "sample scene file defplx01.880 written") -eq 0 ]] || fail "the host wrote over defplx01.880"
line=$(block_line "$case_dir/defplx01.880")
[[ $line == "PLANE8 "* && $line == *"RGB[+0.10,+0.20,+0.30]"* ]] || fail "the user's scene became \"$line\""
[[ -f $case_dir/defplx00.880 && -f $case_dir/defplx02.880 ]] || fail "the other sample scene files are missing"
end_case "a scene file already there is the user's and is kept"

begin_case new-object
printf 'plexa-desktop 1\nobject 5 0 0 0\n' >"$case_dir/desktop.txt"
run_host --frames 2
expect_status 0
expect_output "(new to the plug-in)"
expect_output "1 dialogs answered"
[[ $(count_output "sample scene file") -eq 0 ]] || fail "sample scene files written for a desktop of the user's"
line=$(block_line "$case_dir/defplx00.880")
[[ $line == "SPHERE24 "* && $line == *"RGB[+1.00,+1.00,+1.00]"* ]] || fail "a new object's scene is \"$line\", not the default sphere"
end_case "an object new to the plug-in gets its greeting and the default sphere"

# --- What is drawn, and what clicks find -----------------------------------
# Bound first and drawn nearest: a translucent grey sphere in front of a big
# red one, so that only drawing far objects first lets the red show through.
begin_case view
cat >"$case_dir/desktop.txt" <<'DESKTOP'
plexa-desktop 1
object 21 0.45 0.9 2
data 256 504c5800646566706c7830302e383830
object 22 0 0.5 -1.5
data 256 504c5800646566706c7830312e383830
object 23 -2.2 0 0
data 256 504c5800646566706c7830322e383830
object 24 2.2 0.1 0
data 256 504c5800646566706c7830332e383830
DESKTOP
scene_file defplx00.880 SPHERE24 0.6,0.6,0.6 0,0,0 0.6,0.6,0.6 1
scene_file defplx01.880 SPHERE24 2,2,2 0,0,0 0.9,0.12,0.1 0
scene_file defplx02.880 SPHERE24 1,1,1 0,0,0 0.15,0.8,0.2 0
scene_file defplx03.880 PLANE4 1.2,1,1.2 1.2,0,0 0.2,0.3,0.95 0
run_host --frames 2 --size 640x480 --screenshot shot.png
expect_status 0
shot=$case_dir/shot.png
if [[ ! -f $shot ]]; then
    fail "no screenshot written"
elif ! command -v convert >/dev/null; then
    fail "ImageMagick's convert is needed to read the screenshot"
else
    [[ $(od -An -tx1 -j16 -N8 "$shot" | tr -d ' \n') == 00000280000001e0 ]] || fail "the screenshot is not 640x480"
    expect_hue "$shot" 22 0
    expect_hue "$shot" 23 1
    expect_hue "$shot" 24 2
    # Grey in front of red: red shows through where the grey is dark.
    read -r r g b < <(pixel "$shot" $(on_screen 21))
    [[ ${r:-0} -ge $((${g:-0} + 25)) ]] || fail "the translucent sphere hides the red one behind it ($r $g $b)"
    # Sky and floor are not the objects' colours, and the sky is not black.
    read -r r g b < <(pixel "$shot" 320 2)
    [[ $((r + g + b)) -gt 60 && ${b:-0} -ge ${r:-0} ]] || fail "the sky is ($r $g $b)"
fi
points=()
for key in 21 22 23 24; do points+=("$(on_screen $key | tr ' ' ,)"); done
end_case "each object is drawn where it stands, in its colour, translucent ones over far ones"

begin_case picking
cp "$scratch/view/"{desktop.txt,defplx0*.880} "$case_dir/" 2>/dev/null
IFS=, read -r x21 y21 <<<"${points[0]}"
IFS=, read -r x23 y23 <<<"${points[2]}"
IFS=, read -r x24 y24 <<<"${points[3]}"
run_host --frames 8 --size 640x480 --screenshot shot.png \
    --click "1,left,$x21,$y21" --click "2,left,$x23,$y23" --click "3,left,320,2" \
    --click "4,right,$x24,$y24" --click "5,drag,$x23,$y23,$((x23 + 120)),$y23"
expect_status 0
# The translucent sphere was bound first and the red one is drawn after it,
# yet the nearer one is found.
[[ $(grep -F 'selected key=' "$case_dir/out.txt" | sed -n 1p) == "selected key=21:"* ]] ||
    fail "a click on the translucent sphere did not find it in front of the red one"
[[ $(grep -F 'selected key=' "$case_dir/out.txt" | sed -n 2p) == "selected key=23:"* ]] ||
    fail "a click on the green sphere did not find it"
expect_output "selection cleared"
expect_output "right click on key=24: plug-in opens its menu"
expect_output "1 menus closed"
expect_output "moved key=23 to ("
# Dragged along the floor by 120 pixels: it stays under the cursor.
read -r nx ny <<<"$(on_screen 23)"
if [[ -z $nx ]] || ((nx < x23 + 118 || nx > x23 + 122 || ny < y23 - 2 || ny > y23 + 2)); then
    fail "key=23 dragged from $x23,$y23 by 120 to the right is now at ${nx:-?},${ny:-?}"
fi
grep -q '^object 23 [^ ]* 0 ' "$case_dir/desktop.txt" || fail "the drag changed key=23's height"
grep -q '^object 23 -2.2 ' "$case_dir/desktop.txt" && fail "the drag was not saved"
end_case "clicks find the object under the cursor; a drag moves it along"

# --- The plug-in's popup menu, driven through the real menu ---------------
begin_case menu
run_host --frames 2 --screenshot shot.png
expect_status 0
# Three spheres the view shows: one to recolour, one to flatten, one to quit.
spheres=()
while read -r key; do
    scene=$(scene_of "$key")
    [[ -n $scene && $(block_line "$case_dir/$scene") == SPHERE* ]] && spheres+=("$key")
done < <(grep -F 'on screen: key=' "$case_dir/out.txt" | grep -v 'out of view' | tr -d '\r' | sed 's/.*key=\([-0-9]*\) .*/\1/')
if [[ ${#spheres[@]} -lt 3 ]]; then
    fail "the sample desktop shows ${#spheres[@]} spheres, 3 wanted"
else
    kc=${spheres[0]} kp=${spheres[1]} ke=${spheres[2]}
    read -r xc yc <<<"$(on_screen "$kc")"
    read -r xp yp <<<"$(on_screen "$kp")"
    read -r xe ye <<<"$(on_screen "$ke")"
    plane_scene=$(scene_of "$kp") exit_scene=$(scene_of "$ke")
    fineness=$(block_line "$case_dir/$plane_scene" | sed 's/^SPHERE\([0-9]*\) .*/\1/')
    run_host --frames 7 --color 255,128,0 \
        --click "1,right,$xc,$yc,32" --click "2,right,$xp,$yp,21" --click "3,right,$xe,$ye,33" \
        --click "4,right,$xc,$yc,999" --click "5,shift-right,$xp,$yp,2"
    expect_status 0
    expect_output 'menu item 32 "Choose Color" chosen'
    expect_output "colour for key=$kc: 255 128 0 written at byte 336 and forwarded"
    line=$(block_line "$case_dir/$(scene_of "$kc")")
    [[ $line == *"RGB[+1.00,+0.50,+0.00]"* ]] || fail "Choose Color with 255,128,0 left \"$line\""
    grep -q "^# tag PLX, scene file $(scene_of "$kc"), colour 255 128 0" "$case_dir/desktop.txt" ||
        fail "the desktop does not keep the chosen colour of key=$kc"
    expect_output 'menu item 21 "Plane" chosen'
    line=$(block_line "$case_dir/$plane_scene")
    [[ $line == "PLANE$fineness "* ]] || fail "Plane on SPHERE$fineness left \"$line\""
    expect_output 'menu item 33 "Exit" chosen'
    expect_output "the plug-in's Exit: object key=$ke unbound"
    grep -q "^object $ke " "$case_dir/desktop.txt" && fail "key=$ke is still on the desktop after its Exit"
    [[ $(block_line "$case_dir/$exit_scene") == SPHERE* ]] || fail "$exit_scene lost its scene at Exit"
    # An id the menu lacks must not leave the menu open for the rest of the
    # run; the host's own menu is picked from in the same way.
    expect_output "menu item 999 is not in this menu"
    expect_output "colour for key=$kp: 255 128 0 written at byte 336 and forwarded"
    expect_output "1 removed by the plug-in's Exit"
    expect_output "1 menus closed, 4 menu items chosen"
fi
end_case "items chosen from the real popup menu reach the plug-in, the colour through the host's dialog"

# Objects removed from the front of the binding order shift the others'
# positions, and a copy (a byte copy of a data block, as a desktop program
# makes it) names a file that is already another object's; each must still
# find, show and save its own scene next session.
begin_case removal
run_host --frames 2 --screenshot shot.png
expect_status 0
order=()
while read -r key; do
    [[ -n $(on_screen "$key") && $(on_screen "$key") != *view* ]] && order+=("$key")
done < <(grep '^object ' "$case_dir/desktop.txt" | awk '{print $2}')
if [[ ${#order[@]} -lt 4 ]]; then
    fail "the sample desktop shows ${#order[@]} objects, 4 wanted"
else
    first=${order[0]} middle=${order[1]} recoloured=${order[2]} copied=${order[3]}
    declare -A name_of=()
    for key in "${order[@]}"; do name_of[$key]=$(scene_of "$key"); done
    read -r x1 y1 <<<"$(on_screen "$first")"
    read -r x2 y2 <<<"$(on_screen "$middle")"
    read -r x3 y3 <<<"$(on_screen "$recoloured")"
    read -r x4 y4 <<<"$(on_screen "$copied")"
    removed_first=$(cat "$case_dir/${name_of[$first]}")
    removed_middle=$(cat "$case_dir/${name_of[$middle]}")
    sums=$(cd "$case_dir" && md5sum defplx*.880)
    run_host --frames 6 --color 0,255,0 --click "1,shift-right,$x1,$y1,3" --click "2,right,$x2,$y2,33" \
        --click "3,right,$x3,$y3,32" --click "4,shift-right,$x4,$y4,5"
    expect_status 0
    expect_output "host menu Remove: object key=$first unbound"
    expect_output "the plug-in's Exit: object key=$middle unbound"
    [[ $(block_line "$case_dir/${name_of[$recoloured]}") == *"RGB[+0.00,+1.00,+0.00]"* ]] ||
        fail "the recoloured object's ${name_of[$recoloured]} does not hold its new colour"
    # The copy shows what it copies, and saves to a file of its own that did
    # not exist; only the recoloured object's file changed.
    copy=$(grep -F "host menu Copy: object key=$copied copied as key=" "$case_dir/out.txt" | tr -d '\r' |
        sed 's/.* as key=\([-0-9]*\) .*/\1/')
    copy_scene=$(scene_of "${copy:-none}")
    if [[ -z $copy_scene ]] || grep -qF " $copy_scene" <<<"$sums"; then
        fail "the copy of key=$copied saves to \"$copy_scene\", not to a new file"
    elif [[ $(block_line "$case_dir/$copy_scene") != "$(block_line "$case_dir/${name_of[$copied]}")" ]]; then
        fail "the copy's $copy_scene does not hold the scene of ${name_of[$copied]}"
    else
        name_of[$copy]=$copy_scene
        order+=("$copy")
    fi
    [[ $(cd "$case_dir" && md5sum -c <<<"$sums" 2>/dev/null | grep -v ': OK$') == "${name_of[$recoloured]}: FAILED" ]] ||
        fail "scene files other than ${name_of[$recoloured]} changed:$(cd "$case_dir" && md5sum -c <<<"$sums" 2>/dev/null | grep -v ': OK$')"
    before=$(cd "$case_dir" && md5sum defplx*.880)
    run_host --frames 2 --screenshot shot.png
    expect_status 0
    expect_hue "$case_dir/shot.png" "$recoloured" 1
    for key in "${order[@]:2}"; do
        [[ $(scene_of "$key") == "${name_of[$key]}" ]] ||
            fail "key=$key saves to $(scene_of "$key") in the next session, not its own ${name_of[$key]}"
    done
    [[ $(cd "$case_dir" && md5sum defplx*.880) == "$before" ]] ||
        fail "a session after the removals changed scene files it only had to read back"
    [[ $(cat "$case_dir/${name_of[$first]}") == "$removed_first" && $(cat "$case_dir/${name_of[$middle]}") == "$removed_middle" ]] ||
        fail "a removed object's scene file was written over"
    [[ $(block_line "$case_dir/${name_of[$recoloured]}") == *"RGB[+0.00,+1.00,+0.00]"* ]] ||
        fail "the recoloured object lost its colour in the next session"
fi
end_case "objects removed before others, and a copy, leave every other scene where it was, session after session"

begin_case menu-screenshot
run_host --frames 3 --menu-screenshot menu.png
expect_status 0
expect_output "menu screenshot "
read -r mx my < <(grep -F ' for the menu screenshot' "$case_dir/out.txt" | tr -d '\r' |
    sed 's/.* at (\([0-9]*\), \([0-9]*\)).*/\1 \2/')
if [[ ! -f $case_dir/menu.png || -z ${my:-} ]]; then
    fail "no menu screenshot, or no right click for it"
else
    read -r w h < <(identify -format '%w %h\n' "$case_dir/menu.png")
    # The menu is taller than the space below the click: it hangs below the
    # window, and its item texts must show there.
    if [[ ${w:-0} -lt 800 || ${h:-0} -le 600 ]]; then
        fail "the menu screenshot is ${w}x${h}, not the window with the menu hanging below it"
    else
        darkest=$(convert "$case_dir/menu.png" -crop "140x$((h - 605))+$((mx - 70))+605" +repage -colorspace gray \
            -format '%[fx:int(255*minima)]' info:)
        [[ ${darkest:-255} -lt 128 ]] || fail "no menu text below the window in the menu screenshot"
    fi
fi
end_case "the open popup menu is captured from the screen"

# --- Files the host must not overwrite -------------------------------------
begin_case foreign
printf 'my notes\nobject 1 0 0 0\n' >"$case_dir/notes.txt"
run_host --frames 1 --desktop notes.txt
expect_status 1
expect_output "not a plexa-host desktop file"
expect_output "desktop NOT saved"
[[ $(cat "$case_dir/notes.txt") == $'my notes\nobject 1 0 0 0' ]] || fail "notes.txt was changed"
end_case "a file that is not a desktop is left untouched"

begin_case missing-plugin
printf 'plexa-desktop 1\nobject 5 0 0 0\n' >"$case_dir/desktop.txt"
before=$(cat "$case_dir/desktop.txt")
run_host --frames 1 --plugin no-such-plugin.dll
expect_status 3
expect_output "no-such-plugin.dll"
[[ $(cat "$case_dir/desktop.txt") == "$before" ]] || fail "the desktop was rewritten although nothing was bound"
end_case "a missing plug-in stops the host before it touches the desktop"

# --- Damage ----------------------------------------------------------------
begin_case damaged
printf 'plexa-desktop 1\nobject 7 0 0 0\nobject 7 1 1 1\ndata 336 ff0000\nobject 8 nan 0 0\n\x01\x02 junk\nobject 9 1.5 0.5 0\ndata 600 00\n' \
    >"$case_dir/desktop.txt"
run_host --frames 1
expect_status 0
expect_output "line 3: key 7 is already used"
expect_output "line 5: bad coordinate"
expect_output "line 6: unknown statement"
expect_output "line 8: bad offset"
expect_output "bound object key=7 "
expect_output "bound object key=9 "
[[ $(grep -c '^object ' "$case_dir/desktop.txt") -eq 2 ]] || fail "the saved desktop should hold objects 7 and 9 only"
grep -q '^data 336 ff0000' "$case_dir/desktop.txt" && fail "the refused duplicate's colour reached object 7"
end_case "a damaged desktop is read line by line"

begin_case bad-command-line
run_host --frames many
expect_status 2
expect_output "--frames"
[[ ! -e $case_dir/desktop.txt ]] || fail "a refused command line still wrote a desktop"
end_case "a bad command line is refused before anything runs"

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
