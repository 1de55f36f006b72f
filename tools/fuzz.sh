#!/usr/bin/env bash
# Builds the libFuzzer targets (CMake preset "fuzz": clang, ASan/UBSan, the
# DLL's own libjpeg-turbo, libpng and zlib source built natively) and runs each on a corpus
# seeded by the project's generator (plexa-make-samples seeds).
#
#   tools/fuzz.sh --smoke                 every target for a few seconds, from
#                                         the seeds only (tools/check.sh runs this)
#   tools/fuzz.sh --long SECONDS [NAME]   a campaign: each target (or only NAME:
#                                         scene_line, scene_file, bitmap_file,
#                                         jpeg_decode, png_decode, scale) for
#                                         SECONDS,
#                                         e.g. tools/fuzz.sh --long 3600
#
# Campaign corpora grow in build/fuzz/corpus/<target> and are kept between
# runs; a campaign's log stays in build/fuzz/logs/<target>.log and its last
# lines give executions, coverage (cov: edges, ft: features) and corpus size.
# A crash leaves its input in build/fuzz/artifacts/; replay it with
#   build/fuzz/plexa_fuzz_<target> build/fuzz/artifacts/<file>
# The last line is "fuzz: N passed, N failed", one count per target.
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
repo_root=$PWD
build=$repo_root/build/fuzz

mode=
seconds=
only=
case ${1:-} in
    --smoke) mode=smoke; seconds=8 ;;
    --long)
        [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || { echo "fuzz.sh: --long wants a number of seconds" >&2; exit 2; }
        mode=long; seconds=$2; only=${3:-} ;;
    -h | --help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "usage: tools/fuzz.sh --smoke | --long SECONDS [NAME]" >&2; exit 2 ;;
esac

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "==== fuzz: configure and build (preset fuzz)"
for step in configure build; do
    if [[ $step == configure ]]; then
        cmake --preset fuzz >"$work/$step.log" 2>&1
    else
        cmake --build --preset fuzz >"$work/$step.log" 2>&1
    fi
    if [[ $? -ne 0 ]]; then
        tail -n 60 "$work/$step.log"
        echo "fuzz.sh: $step failed" >&2
        echo "fuzz: 0 passed, 1 failed"
        exit 1
    fi
done

seeds=$build/seeds
rm -rf "$seeds"
if ! "$build/tools/make-samples/plexa-make-samples" seeds "$seeds"; then
    echo "fuzz.sh: could not generate the seed corpora" >&2
    echo "fuzz: 0 passed, 1 failed"
    exit 1
fi

artifacts=$build/artifacts
mkdir -p "$artifacts"

passed=0
failed=0
for target in scene_line scene_file bitmap_file jpeg_decode png_decode scale; do
    [[ -n $only && $only != "$target" ]] && continue
    case $target in
        scene_line | scene_file) seed=$seeds/scene ;;
        bitmap_file) seed=$seeds/bitmap ;;
        jpeg_decode) seed=$seeds/jpeg ;;
        png_decode) seed=$seeds/png ;;
        scale) seed=$seeds/scale ;;
    esac
    if [[ $mode == smoke ]]; then
        corpus=$work/$target   # new finds are dropped: a smoke run repeats itself
        options=(-seed=1)
    else
        corpus=$build/corpus/$target
        options=()
    fi
    mkdir -p "$corpus"
    if [[ $mode == smoke ]]; then
        log=$work/$target.log
    else
        mkdir -p "$build/logs"
        log=$build/logs/$target.log
    fi
    echo "---- $target: ${seconds}s"
    # Paths are absolute: the scene-line target works in a directory of its own.
    "$build/plexa_fuzz_$target" "${options[@]}" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 \
        -print_final_stats=1 -artifact_prefix="$artifacts/$target-" "$corpus" "$seed" >"$log" 2>&1
    status=$?
    if [[ $status -eq 0 ]]; then
        grep -aE '^stat::number_of_executed_units|^Done ' "$log" | tail -n 1
        if [[ $mode == long ]]; then
            grep -aE '^#[0-9]+ +(DONE|pulse|REDUCE|NEW)' "$log" | tail -n 1
            # Slow units are reported, not failures: a loaded machine makes them.
            crashes=$(find "$artifacts" -type f \( -name "$target-crash-*" -o -name "$target-leak-*" \
                -o -name "$target-timeout-*" -o -name "$target-oom-*" \) | wc -l)
            slow=$(find "$artifacts" -type f -name "$target-slow-unit-*" | wc -l)
            echo "$target: $(find "$corpus" -type f | wc -l) corpus files, $crashes crash artifacts, $slow slow units"
        fi
        passed=$((passed + 1))
    else
        echo "$target FAILED (status $status); the end of its log:"
        tail -n 40 "$log"
        failed=$((failed + 1))
    fi
done

echo "fuzz: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
