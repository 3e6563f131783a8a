#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a bounded time,
# starting from the seed corpora in tests/fuzz-corpus/<target>/.
#   bash scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]     (default 60 s, all three)
# New inputs go to build-fuzz/corpus/<target>/ (the seeds stay as they are); a crash,
# leak or timeout stops the run and leaves its input in build-fuzz/artifacts/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(picture connection-string frame-converter)
build=${FUZZ_BUILD_DIR:-build-fuzz}

bash scripts/install-deps.sh >/dev/null
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUVELOCAP_FUZZ=ON -DBUILD_TESTING=OFF -DQUVELOCAP_BUILD_BENCHMARKS=OFF >/dev/null
executables=()
for target in "${targets[@]}"; do executables+=("fuzz_${target//-/_}"); done
cmake --build "$build" -j"${FUZZ_JOBS:-2}" --target "${executables[@]}"

status=0
for target in "${targets[@]}"; do
    exe=$build/fuzz/fuzz_${target//-/_}
    corpus=$build/corpus/$target
    artifacts=$build/artifacts/$target
    mkdir -p "$corpus" "$artifacts"
    cp -n tests/fuzz-corpus/"$target"/* "$corpus"/
    log=$build/fuzz-$target.log
    echo "fuzz: $target for ${seconds}s"
    set +e
    ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        QT_QPA_PLATFORM=offscreen \
        "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1
    rc=$?
    set -e
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
    cover=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
    if ((rc != 0)); then
        echo "fuzz: $target FAILED after ${runs:-?} runs (see $log):"
        grep -E 'ERROR|SUMMARY|Test unit written|runtime error' "$log" | head -8
        status=1
    else
        echo "fuzz: $target ran ${took:-$seconds}s, ${runs:-?} executions, ${cover:-cov ?}, corpus $(ls "$corpus" | wc -l) inputs"
    fi
done
exit $status
