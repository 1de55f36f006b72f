#!/usr/bin/env bash
# The whole check: install what is missing, then configure, build and test the
# native preset (core code under ASan/UBSan) and the win64 preset (the DLL and
# its tests under Wine, all sharing one Xvfb). Both presets always run, so one
# failure does not hide another; the exit status is non-zero if any step
# failed. Extra arguments go to both ctest runs (e.g. -R Smoke).
set -uo pipefail

# Native tests run one per core. The Wine tests run one at a time unless
# PLEXA_WINE_TEST_JOBS says otherwise: running them side by side works (they
# share one persistent wineserver), but they also share one desktop, so a test
# that looks up a window by name or waits for activation can see another
# test's window.
native_jobs=${PLEXA_NATIVE_TEST_JOBS:-$(nproc)}
wine_jobs=${PLEXA_WINE_TEST_JOBS:-1}

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

run_preset() {
    local preset=$1 wrapper=$2
    shift 2
    local log=$logs/$preset.log
    echo "==== $preset: configure, build, test"
    # shellcheck disable=SC2016 # expanded by the inner shell
    $wrapper bash -c '
        set -o pipefail
        preset=$1 log=$2; shift 2
        cmake --preset "$preset" || exit 10
        cmake --build --preset "$preset" || exit 11
        ctest --preset "$preset" "$@" 2>&1 | tee "$log"
    ' run-preset "$preset" "$log" "$@"
    local status=$?
    local summary
    summary=$(ctest_summary "$log" 2>/dev/null)
    case $status in
        0) ;;
        10) failed+=("$preset: configure"); summary="configure failed" ;;
        11) failed+=("$preset: build"); summary="build failed" ;;
        *) failed+=("$preset: tests (status $status)"); summary=${summary:-"ctest failed with status $status"} ;;
    esac
    summaries+=("$preset: $summary")
    if [[ $summary =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
        tests_failed=$((tests_failed + BASH_REMATCH[1]))
        tests_passed=$((tests_passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
    fi
}

run_preset native "" --parallel "$native_jobs" "$@"
run_preset win64 "$repo_root/tools/with-display.sh" --parallel "$wine_jobs" "$@"

# ---- fuzzing: a short run of every libFuzzer target (tools/fuzz.sh owns it).
# Each target counts as one test; its closing line reads "fuzz: N passed, N failed".
echo "==== fuzz: smoke run of every target"
tools/fuzz.sh --smoke 2>&1 | tee "$logs/fuzz.log"
fuzz_status=${PIPESTATUS[0]}
fuzz_summary=$(grep -E '^fuzz: [0-9]+ passed, [0-9]+ failed' "$logs/fuzz.log" | tail -n1)
if [[ $fuzz_summary =~ ([0-9]+)\ passed,\ ([0-9]+)\ failed ]]; then
    tests_passed=$((tests_passed + BASH_REMATCH[1]))
    tests_failed=$((tests_failed + BASH_REMATCH[2]))
elif [[ $fuzz_status -ne 0 ]]; then
    tests_failed=$((tests_failed + 1))
fi
[[ $fuzz_status -eq 0 ]] || failed+=("fuzz: smoke (status $fuzz_status)")
summaries+=("${fuzz_summary:-fuzz: failed with status $fuzz_status}")

echo "==== summary"
printf '%s\n' "${summaries[@]}"
echo "check: $tests_passed passed, $tests_failed failed"
if [[ ${#failed[@]} -ne 0 ]]; then
    printf 'FAILED: %s\n' "${failed[@]}"
    exit 1
fi
