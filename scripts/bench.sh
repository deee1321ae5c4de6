#!/usr/bin/env bash
# Builds the benchmark and the program in a release build of their own (build-bench/, no tests) and
# runs it: books of 10,000 and 100,000 bills are generated, and the table of the main road's
# timings beside their SQLite floor is printed, with the memory and the real program's start-up,
# then that of synchronising the largest book with a local web service. Last comes the load test of
# the service (quorvane-loadtest): many households synchronising at once, a large upload beside
# them and the service killed midway.
# Arguments are passed on to quorvane-bench, e.g. "--runs 11" or "--sizes 100000", except these:
#   --load-seconds N   the load test's length (default 60; 10 is a quick run)
#   --load-only        only the load test
#   --no-load          no load test
set -euo pipefail
cd "$(dirname "$0")/.."

bench_arguments=()
load_arguments=()
run_bench=1
run_load=1
while (($# > 0)); do
    case "$1" in
    --load-seconds)
        load_arguments+=(--seconds "$2")
        shift 2
        ;;
    --load-only)
        run_bench=0
        shift
        ;;
    --no-load)
        run_load=0
        shift
        ;;
    *)
        bench_arguments+=("$1")
        shift
        ;;
    esac
done

scripts/install-deps.sh

# Sources added since the last build are not seen by the existing moc/uic run; make it look again.
find build-bench -path '*_autogen*' -name timestamp -delete 2>/dev/null || true
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_BUILD_TESTS=OFF
cmake --build build-bench -j"$(nproc)" --target quorvane-bench quorvane quorvane-import quorvane-loadtest
if ((run_bench)); then
    # The program starts on a virtual display, as on a desktop; the benchmark's own steps run offscreen.
    xvfb-run -a -s "-screen 0 1280x900x24" build-bench/bench/quorvane-bench --program "$PWD/build-bench/quorvane" \
        ${bench_arguments[@]+"${bench_arguments[@]}"}
fi
if ((run_load)); then
    build-bench/bench/quorvane-loadtest ${load_arguments[@]+"${load_arguments[@]}"}
fi
