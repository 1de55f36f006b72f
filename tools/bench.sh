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
#   tools/bench.sh --hardening [REPS [FILTER]]
#                                   what the DLL's hardening costs: the same
#                                   benchmarks built plain and with
#                                   -fstack-protector-strong -D_FORTIFY_SOURCE=2,
#                                   run in turn (plain, hardened, three times),
#                                   then hardened/plain per benchmark, and the
#                                   spread of the plain turns as the noise floor
#                                   (default: 3 repetitions a turn of binding,
#                                   refresh geometry and JPEG decoding)
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
hardening=0
if [[ ${1:-} == --hardening ]]; then
    hardening=1
    repetitions=3
    filter='^(Bind|RefreshGeometry|SkinnedRefreshGeometry|DecodeJpeg)/'
    shift
fi
case ${1:-} in
    -h | --help) sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    '') ;;
    *)
        [[ $1 =~ ^[1-9][0-9]*$ ]] || { echo "usage: tools/bench.sh [--hardening] [REPETITIONS [FILTER]]" >&2; exit 2; }
        repetitions=$1; filter=${2:-$filter} ;;
esac
targets=(plexa_benchmarks)
[[ $hardening -eq 1 ]] && targets+=(plexa_benchmarks_hardened)

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
if ! cmake --build "$build" -j2 --target "${targets[@]}" >"$work/build.log" 2>&1; then
    tail -n 60 "$work/build.log"
    echo "bench.sh: build failed" >&2
    exit 1
fi

options=(--benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true)
[[ -n $filter ]] && options+=(--benchmark_filter="$filter")

if [[ $hardening -eq 1 ]]; then
    # Medians of each program's repetitions, averaged over three turns each,
    # so that a machine growing busier during the run favours neither. CPU
    # time throughout: every one of these is single-threaded CPU work, and a
    # shared machine's load shows in wall time far more than in CPU time.
    start=$SECONDS
    for turn in 1 2 3; do
        for variant in plain hardened; do
            program=$build/plexa_benchmarks
            [[ $variant == hardened ]] && program=${program}_hardened
            echo "==== bench: $variant, turn $turn: $repetitions repetitions, medians"
            "$program" "${options[@]}" --benchmark_out="$work/$variant-$turn.csv" --benchmark_out_format=csv ||
                exit 1
        done
    done
    echo "bench: $((SECONDS - start)) s of benchmarks"
    echo "==== hardening: hardened/plain, CPU time (medians, mean of 3 turns; -fstack-protector-strong -D_FORTIFY_SOURCE=2)"
    echo "     noise: the slowest plain turn over the fastest"
    awk -v work="$work" '
        function load(file, v,   line, f, name, time) {
            while ((getline line < file) > 0) {
                split(line, f, ",")
                if (f[1] !~ /_median"?$/) continue
                name = f[1]; gsub(/"/, "", name); sub(/_median$/, "", name)
                time = f[4]
                if (!(name in order)) { order[name] = ++n; names[n] = name }
                sum[name, v] += time; count[name, v]++; unit[name] = f[5]
                if (v == "plain") {
                    if (!((name, "lo") in spread) || time < spread[name, "lo"]) spread[name, "lo"] = time
                    if (!((name, "hi") in spread) || time > spread[name, "hi"]) spread[name, "hi"] = time
                }
            }
            close(file)
        }
        BEGIN {
            for (t = 1; t <= 3; t++) { load(work "/plain-" t ".csv", "plain"); load(work "/hardened-" t ".csv", "hardened") }
            printf "%-32s %12s %12s %8s %8s\n", "benchmark", "plain", "hardened", "ratio", "noise"
            for (i = 1; i <= n; i++) {
                k = names[i]
                if (!count[k, "plain"] || !count[k, "hardened"]) continue
                p = sum[k, "plain"] / count[k, "plain"]; h = sum[k, "hardened"] / count[k, "hardened"]
                printf "%-32s %9.3f %-2s %9.3f %-2s %7.3fx %7.3fx\n", k, p, unit[k], h, unit[k], h / p,
                    spread[k, "hi"] / spread[k, "lo"]
            }
        }'
    exit 0
fi

echo "==== bench: $repetitions repetitions, medians"
start=$SECONDS
"$build/plexa_benchmarks" "${options[@]}"
status=$?
echo "bench: $((SECONDS - start)) s of benchmarks"
exit $status
