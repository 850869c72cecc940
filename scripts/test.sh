#!/usr/bin/env bash
# shellcheck disable=SC2317 # the step functions are called through run_phase
# The project's test command. Installs what is missing, then:
#   0. lints the sources for what no compiler flag checks (scripts/lint-source.sh);
#   1. builds the native suite with AddressSanitizer and UndefinedBehaviorSanitizer and runs it;
#   2. builds the optimised native build, so the benchmark program keeps compiling (not run here),
#      and the fuzz targets (clang), running each for a few seconds (ZARN_FUZZ_SECONDS, 5 by default);
#   3. cross-builds the suite for 64-bit Windows and runs it under Wine;
#   4. runs the end-to-end checks under Wine and Xvfb: the renderer's check and zarn.exe's
#      unattended runs.
# Every step that can run does, so both suites report; the exit status is non-zero if any failed.
set -uo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(dirname "$script_dir")
cd "$source_dir" || exit 1

jobs=$(nproc)
log_dir="$source_dir/build/logs"
phase_names=()
phase_seconds=()
phase_results=()
failed=0
passed_tests=0
failed_tests=0

# run_phase NAME COMMAND...: runs one step, timing it and keeping its result for the summary.
run_phase() {
    local name=$1 start status
    shift
    echo
    echo "==== $name"
    start=$EPOCHREALTIME
    "$@"
    status=$?
    phase_names+=("$name")
    phase_seconds+=("$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')")
    if ((status == 0)); then
        phase_results+=(ok)
    else
        phase_results+=("FAILED (exit $status)")
        failed=1
    fi
    return "$status"
}

# Configures and builds one preset, going on past failures so that every error shows; only the
# compilers' own messages are printed.
build_preset() {
    local preset=$1
    cmake --preset "$preset" --log-level=WARNING && cmake --build --preset "$preset" -j "$jobs" -- --quiet -k 0
}

# Runs one preset's CTest and counts its results from CTest's summary line.
run_ctest() {
    local preset=$1 log="$log_dir/ctest-$1.log" status summary total failures
    mkdir -p "$log_dir"
    ctest --preset "$preset" -j "$jobs" 2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
    summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [[ -n $summary ]]; then
        total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
        failures=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$summary")
        passed_tests=$((passed_tests + total - failures))
        failed_tests=$((failed_tests + failures))
    fi
    if [[ $summary == *"out of 0"* || -z $summary ]]; then
        echo "ctest ($preset) ran no test" >&2
        return 1
    fi
    return "$status"
}

# Under Wine each program is one CTest test: show GoogleTest's own count for each, so the log
# shows that the cases really ran on the Windows side.
show_wine_counts() {
    local log="$source_dir/build/windows/Testing/Temporary/LastTest.log" counts
    [[ -f $log ]] || return 0
    counts=$(awk '/ Testing: / { name = $NF }
                  /^\[  PASSED  \]|^\[  FAILED  \] [0-9]+ test/ { print "  " name ": " $0 }' "$log")
    [[ -n $counts ]] || return 0
    printf '\nGoogleTest under Wine:\n%s\n' "$counts"
}

run_phase "setup" bash "$script_dir/setup.sh" || exit 1
echo "g++ $(g++ -dumpfullversion), mingw-w64 g++ $(x86_64-w64-mingw32-g++-posix -dumpfullversion)," \
    "$(cmake --version | head -n 1), ninja $(ninja --version), $(WINEDEBUG=-all wine --version 2>/dev/null)"

run_phase "lint: portable sources, one-way includes" bash "$script_dir/lint-source.sh"

if run_phase "sanitize: build" build_preset sanitize; then
    run_phase "sanitize: tests" run_ctest sanitize
fi

run_phase "native: build (benchmarks compile, not run)" build_preset native

# Every fuzz target for a few seconds from its seeds: a finding fails the run.
if run_phase "fuzz: build" build_preset fuzz; then
    run_phase "fuzz: every target for ${ZARN_FUZZ_SECONDS:-5} s" bash "$script_dir/fuzz.sh" "${ZARN_FUZZ_SECONDS:-5}"
fi

# The catalogue generator runs on the build machine in every build: each must write the same file.
same_catalogue() {
    local file=Worlds/Earth/ecosystem.zarneco
    cmp "build/native/$file" "build/sanitize/$file" && cmp "build/native/$file" "build/windows/$file"
}

wine_ready=0
if run_phase "windows: build" build_preset windows; then
    run_phase "catalogue: the same from every build" same_catalogue
    if run_phase "windows: Wine prefix" "$script_dir/wine-run.sh" --init; then
        wine_ready=1
        run_phase "windows: tests under Wine" run_ctest windows
        show_wine_counts
    fi
fi

# ---- End-to-end checks under Wine and Xvfb.
# Each is a script of its own that exits non-zero on failure, added here as
#   run_phase "e2e: NAME" bash "$script_dir/e2e-NAME.sh"
# inside the block below (the Windows build and the Wine prefix are ready there). They run the
# programs in a scratch copy of the program folder, check zarn-smoke.txt by value and
# zarn-smoke.ppm by content, and that no zarn-error.log appeared; scripts/e2e-common.sh holds what
# they share.
if ((wine_ready)); then
    run_phase "e2e: renderer" bash "$script_dir/e2e-render.sh"
    run_phase "e2e: zarn.exe unattended runs" bash "$script_dir/e2e-smoke.sh"
    run_phase "e2e: sound output and weapon model" bash "$script_dir/e2e-audio.sh"
    run_phase "e2e: menus, HUD and the district map" bash "$script_dir/e2e-menus.sh"
    run_phase "e2e: the Earth world" bash "$script_dir/e2e-earth.sh"
    run_phase "e2e: the star world" bash "$script_dir/e2e-stars.sh"
fi

echo
echo "==== summary"
total_seconds=0
for i in "${!phase_names[@]}"; do
    printf '%-46s %8s s  %s\n' "${phase_names[$i]}" "${phase_seconds[$i]}" "${phase_results[$i]}"
    total_seconds=$(awk -v a="$total_seconds" -v b="${phase_seconds[$i]}" 'BEGIN { print a + b }')
done
printf '%-46s %8.1f s\n' "total" "$total_seconds"
echo "tests: $passed_tests passed, $failed_tests failed"
exit "$failed"
