#!/usr/bin/env bash
# The whole check: install what is missing, then configure, build and test the
# native preset (core code under ASan/UBSan) and the win64 preset (the DLL and
# its tests under Wine, all sharing one Xvfb), and give every fuzzer a short
# run. Every step runs, however the ones before it ended, so one failure does
# not hide another; the exit status is non-zero if any step failed. Extra
# arguments go to both ctest runs (e.g. -R PluginImage).
#
# The Wine tests run one at a time and mostly wait on Wine, so the native
# tests and the fuzzers run beside them, at a lower priority, their output
# shown when the Wine tests are done. PLEXA_CHECK_SERIAL=1 runs all in turn.
set -uo pipefail

# Native tests run one per core. The Wine tests run one at a time unless
# PLEXA_WINE_TEST_JOBS says otherwise: running them side by side works (they
# share one persistent wineserver), but they also share one desktop, so a test
# that looks up a window by name or waits for activation can see another
# test's window.
native_jobs=${PLEXA_NATIVE_TEST_JOBS:-$(nproc)}
wine_jobs=${PLEXA_WINE_TEST_JOBS:-1}
serial=${PLEXA_CHECK_SERIAL:-0}

cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
repo_root=$PWD

tools/install-deps.sh || { echo "check.sh: installing dependencies failed" >&2; exit 1; }

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

failed=()
summaries=()
tests_passed=0
tests_failed=0

# ctest's own closing line, e.g. "100% tests passed, 0 tests failed out of 12".
ctest_summary() {
    grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n1
}

# build_preset PRESET WRAPPER: configure and build; status 0, 10 or 11.
build_preset() {
    local preset=$1 wrapper=$2
    echo "==== $preset: configure and build"
    # shellcheck disable=SC2016 # expanded by the inner shell
    $wrapper bash -c 'cmake --preset "$1" || exit 10; cmake --build --preset "$1" || exit 11' build "$preset"
}

# test_preset PRESET WRAPPER CTEST-ARGS...: ctest's output is shown and kept
# in $logs/PRESET.log, its status in $logs/PRESET.status.
test_preset() {
    local preset=$1 wrapper=$2
    shift 2
    echo "==== $preset: tests"
    $wrapper ctest --preset "$preset" "$@" 2>&1 | tee "$logs/$preset.log"
    echo "${PIPESTATUS[0]}" >"$logs/$preset.status"
}

# The fuzzers' smoke run (tools/fuzz.sh owns it): output in $logs/fuzz.log.
fuzz_smoke() {
    echo "==== fuzz: smoke run of every target"
    tools/fuzz.sh --smoke 2>&1 | tee "$logs/fuzz.log"
    echo "${PIPESTATUS[0]}" >"$logs/fuzz.status"
}

# Adds one ctest run to the totals, or the configure/build step that stopped it.
count_preset() {
    local preset=$1 built=$2 status summary
    case $built in
        10) failed+=("$preset: configure"); summaries+=("$preset: configure failed"); return ;;
        11) failed+=("$preset: build"); summaries+=("$preset: build failed"); return ;;
    esac
    status=$(cat "$logs/$preset.status" 2>/dev/null || echo 1)
    summary=$(ctest_summary "$logs/$preset.log" 2>/dev/null)
    if [[ $status -ne 0 ]]; then
        failed+=("$preset: tests (status $status)")
        summary=${summary:-"ctest failed with status $status"}
    fi
    summary=${summary:-"no tests run"}
    summaries+=("$preset: $summary")
    if [[ $summary =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
        tests_failed=$((tests_failed + BASH_REMATCH[1]))
        tests_passed=$((tests_passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
    fi
}

# Each target counts as one test; its closing line reads "fuzz: N passed, N failed".
count_fuzz() {
    local status summary
    status=$(cat "$logs/fuzz.status" 2>/dev/null || echo 1)
    summary=$(grep -E '^fuzz: [0-9]+ passed, [0-9]+ failed' "$logs/fuzz.log" | tail -n1)
    if [[ $summary =~ ([0-9]+)\ passed,\ ([0-9]+)\ failed ]]; then
        tests_passed=$((tests_passed + BASH_REMATCH[1]))
        tests_failed=$((tests_failed + BASH_REMATCH[2]))
    elif [[ $status -ne 0 ]]; then
        tests_failed=$((tests_failed + 1))
    fi
    [[ $status -eq 0 ]] || failed+=("fuzz: smoke (status $status)")
    summaries+=("${summary:-fuzz: failed with status $status}")
}

display=$repo_root/tools/with-display.sh
build_preset native ""
native_built=$?
build_preset win64 "$display"
win64_built=$?

# The second lane: native tests, then the fuzzers.
other_lane() {
    [[ $native_built -eq 0 ]] && test_preset native "" --parallel "$native_jobs" "$@"
    fuzz_smoke
}
if [[ $serial == 1 ]]; then
    other_lane "$@"
else
    echo "==== native tests and fuzzers: running beside the Wine tests"
    (renice -n 10 -p "$BASHPID" >/dev/null; other_lane "$@" >/dev/null) &
    lane=$!
fi
[[ $win64_built -eq 0 ]] && test_preset win64 "$display" --parallel "$wine_jobs" "$@"
if [[ $serial != 1 ]]; then
    wait "$lane"
    for part in native fuzz; do
        [[ -f $logs/$part.log ]] || continue
        echo "==== $part (run beside the Wine tests)"
        cat "$logs/$part.log"
    done
fi

count_preset native "$native_built"
count_preset win64 "$win64_built"
count_fuzz

echo "==== summary"
printf '%s\n' "${summaries[@]}"
echo "check: $tests_passed passed, $tests_failed failed"
if [[ ${#failed[@]} -ne 0 ]]; then
    printf 'FAILED: %s\n' "${failed[@]}"
    exit 1
fi
