#!/usr/bin/env bash
# Runs every fuzz target (or the ones named) for SECONDS each, one after another, one core each:
#   scripts/fuzz.sh [SECONDS] [NAME...]        (SECONDS defaults to 60; NAME as in fuzz/CMakeLists.txt)
# Builds the fuzz preset first. Each target starts from its seeds (fuzz/corpus/NAME) and the corpus
# that earlier runs grew (build/fuzz/corpus/NAME), with its dictionary (fuzz/NAME.dict) and options
# (fuzz/NAME.options, relative to fuzz/). An input that breaks a promise is kept under
# build/fuzz/findings/NAME/; the script then exits non-zero. Each run's last lines (executions and
# coverage) go to the console, the whole output to build/fuzz/logs/NAME.log.
set -uo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(dirname "$script_dir")
fuzz_dir="$source_dir/fuzz"
build_dir="$source_dir/build/fuzz"
seconds=${1:-60}
shift || true

# Several runs at once (one per target, each on a core of its own) build once first and then set
# ZARN_FUZZ_SKIP_BUILD=1, so that they do not configure the same folder at the same time.
if [[ -z ${ZARN_FUZZ_SKIP_BUILD:-} ]]; then
    cmake --preset fuzz --log-level=WARNING >/dev/null && cmake --build --preset fuzz -- --quiet >/dev/null || exit 1
fi

if (($# > 0)); then
    names=("$@")
else
    mapfile -t names < <(sed -nE 's/^zarn_fuzz_target\(([A-Za-z0-9]+)\)$/\1/p' "$fuzz_dir/CMakeLists.txt")
fi

failed=0
for name in "${names[@]}"; do
    program="$build_dir/fuzz/zarn_fuzz_$name"
    corpus="$build_dir/corpus/$name"
    findings="$build_dir/findings/$name"
    log="$build_dir/logs/$name.log"
    mkdir -p "$corpus" "$findings" "$(dirname "$log")"
    options=()
    [[ -f "$fuzz_dir/$name.dict" ]] && options+=("-dict=$name.dict")
    # shellcheck disable=SC2207 # the options file is a list of words
    [[ -f "$fuzz_dir/$name.options" ]] && options+=($(cat "$fuzz_dir/$name.options"))
    seeds=()
    [[ -d "$fuzz_dir/corpus/$name" ]] && seeds+=("$fuzz_dir/corpus/$name")
    echo "fuzz: $name for $seconds s"
    (cd "$fuzz_dir" && "$program" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" "${seeds[@]}") >"$log" 2>&1
    status=$?
    grep -E 'DONE|^stat::number_of_executed_units' "$log" | sed 's/^/  /'
    if ((status != 0)); then
        echo "fuzz: $name FOUND A FAULT (exit $status); its input is in $findings/" >&2
        grep -E 'fuzz finding|ERROR: |SUMMARY: |runtime error' "$log" | head -n 5 >&2
        failed=1
    fi
done
exit "$failed"
