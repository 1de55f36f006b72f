#!/usr/bin/env bash
# Builds the benchmarks (CMake preset "native": the benchmark program links a
# copy of the core without sanitizers) and runs every one of them against
# Mesa's OSMesa with repetitions, reporting medians, and ends with the ratio
# lines: each figure against its baseline measured in the same run.
#
#   tools/bench.sh                  5 repetitions of every benchmark
#   tools/bench.sh REPETITIONS      e.g. tools/bench.sh 3 for a shorter run
#   tools/bench.sh REPS FILTER      only the benchmarks matching the regular
#                                   expression FILTER (Google Benchmark's
#                                   --benchmark_filter), e.g. 'Jpeg|Djpeg'
#
# The build goes to build/native unless PLEXA_BENCH_BUILD names another build
# directory (configured with the native preset if it is not yet). Missing
# Debian packages (libbenchmark-dev, libosmesa6-dev, libglu1-mesa-dev,
# libjpeg-turbo-progs for djpeg, ...) are installed by tools/install-deps.sh.
# Figures are ratios, not times: the machine and its load change the times.
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
repo_root=$PWD
build=${PLEXA_BENCH_BUILD:-$repo_root/build/native}

repetitions=5
filter=
case ${1:-} in
    -h | --help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    '') ;;
    *)
        [[ $1 =~ ^[1-9][0-9]*$ ]] || { echo "usage: tools/bench.sh [REPETITIONS [FILTER]]" >&2; exit 2; }
        repetitions=$1; filter=${2:-} ;;
esac

tools/install-deps.sh || exit 1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "==== bench: configure and build ($build)"
if [[ ! -f $build/CMakeCache.txt ]]; then
    if ! cmake --preset native -B "$build" >"$work/configure.log" 2>&1; then
        tail -n 60 "$work/configure.log"
        echo "bench.sh: configure failed" >&2
        exit 1
    fi
fi
if ! cmake --build "$build" -j2 --target plexa_benchmarks >"$work/build.log" 2>&1; then
    tail -n 60 "$work/build.log"
    echo "bench.sh: build failed" >&2
    exit 1
fi

options=(--benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true)
[[ -n $filter ]] && options+=(--benchmark_filter="$filter")

echo "==== bench: $repetitions repetitions, medians"
start=$SECONDS
"$build/plexa_benchmarks" "${options[@]}"
status=$?
echo "bench: $((SECONDS - start)) s of benchmarks"
exit $status
