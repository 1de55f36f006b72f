#!/usr/bin/env bash
# Runs plexa-host.exe with the real plexa.dll under Wine and checks what a
# user relies on from run to run: the desktop file keeps each object's tag and
# scene file name, so a second run finds every scene again; a file the host
# cannot use is never overwritten; a missing plug-in is a clear error, not a
# crash.
#
#   host_runs_test.sh <plexa-host.exe> <scratch directory>
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

# --- A fresh desktop, then the same desktop again -------------------------
begin_case persistence
run_host --frames 2
expect_status 0
[[ $(count_output "(new to the plug-in)") -eq 3 ]] || fail "the sample desktop's 3 objects were not all new"
for n in 00 01 02; do
    if [[ -f $case_dir/defplx$n.880 ]]; then
        [[ $(head -c 3 "$case_dir/defplx$n.880") == 880 ]] || fail "defplx$n.880 does not begin with 880"
        grep -q "^# tag PLX, scene file defplx$n.880" "$case_dir/desktop.txt" ||
            fail "desktop.txt does not keep the tag and name of defplx$n.880"
    else
        fail "no scene file defplx$n.880 after the first run"
    fi
done
[[ ! -e $case_dir/desktop.txt.tmp ]] || fail "the temporary desktop file was left behind"
first_desktop=$(cat "$case_dir/desktop.txt" 2>/dev/null)

run_host --frames 2
expect_status 0
[[ $(count_output "(tagged, finds its scene again)") -eq 3 ]] || fail "the second run did not find all 3 objects tagged"
expect_output "0 dialogs answered"
[[ $(cat "$case_dir/desktop.txt" 2>/dev/null) == "$first_desktop" ]] ||
    fail "an unchanged desktop came out different from the second run"
end_case "a saved desktop finds its scenes again"

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
