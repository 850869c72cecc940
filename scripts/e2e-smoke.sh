#!/usr/bin/env bash
# End-to-end check of the game program: runs the Windows build's zarn.exe under Wine on a virtual X
# display (Xvfb) in its unattended modes, each in a scratch copy of the program folder, and checks
# what each run left:
#   - exit status 0 within the time limit, and no zarn-error.log;
#   - zarn-smoke.txt by value: the frame count of the mode, no buildings (the training ground),
#     fractures after the collapse, gravity up (0, 1), and D3D11_RENDER_OK as the last line;
#   - zarn-smoke.ppm by content: a 1280x720 binary PPM that is not blank, with sky along the top row
#     where the camera looks at the horizon and matter along the bottom row;
#   - config.ini written at the end of the run.
# Then the fatal-error path: zarn_startup_check.exe starts the game with a shader text that does not
# compile, and must see the message in zarn-error.log and in the error's message box.
#
#   scripts/e2e-smoke.sh [BUILD_DIR]     (default: build/windows)
#
# Each run's folder stays in BUILD_DIR/e2e-smoke/NAME/ with the picture, the report and Wine's output.
# Environment: ZARN_E2E_TIMEOUT (seconds for each run, default 300), and wine-run.sh's own.
set -uo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(dirname "$script_dir")
build_dir=$(cd "${1:-$source_dir/build/windows}" && pwd) || exit 1
program="$build_dir/zarn.exe"
startup_check="$build_dir/tests/zarn_startup_check.exe"
out="$build_dir/e2e-smoke"
timeout_seconds=${ZARN_E2E_TIMEOUT:-300}

# name | options | frames | fractures (zero, positive or any) | top row (sky or matter)
runs=(
    "smoke|--smoke|120|zero|sky"
    "play|--play --smoke|120|any|sky"
    "collapse|--collapse|360|positive|sky"
    "shoot|--collapse --shoot|240|positive|matter"
)

for file in "$program" "$startup_check"; do
    if [[ ! -f $file ]]; then
        echo "e2e-smoke: $file is missing (build the windows preset first)" >&2
        exit 1
    fi
done
rm -rf "$out"
mkdir -p "$out"

sky="107 122 125" # the plain world's sky, linear RGB (0.42, 0.48, 0.49) in bytes
failures=()
timings=()

# run_windowed NAME PROGRAM [ARGS...]: runs a copy of the program in its own folder under Xvfb.
run_windowed() {
    local name=$1 exe=$2 dir="$out/$1"
    shift 2
    mkdir -p "$dir"
    cp "$exe" "$dir/"
    if [[ -d $build_dir/Worlds ]]; then
        cp -r "$build_dir/Worlds" "$dir/"
    fi
    local start=$EPOCHREALTIME
    (cd "$dir" && timeout --kill-after=15 $((timeout_seconds + 60)) \
        xvfb-run -a -s "-screen 0 1600x1000x24" \
        env ZARN_WINE_TIMEOUT="$timeout_seconds" "$script_dir/wine-run.sh" "./$(basename "$exe")" "$@" \
        >wine.log 2>&1)
    local status=$?
    timings+=("$(printf '%-18s %6.1f s' "$name" "$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')")")
    return "$status"
}

# value FILE NAME: the value of the report's line NAME=
value() {
    tr -d '\r' <"$1" | awk -F= -v name="$2" '$1 == name { print substr($0, length(name) + 2); exit }'
}

# row_sky_share FILE ROW: per mille of the row's pixels that have the sky's colour (within 4).
row_sky_share() {
    tail -c +17 "$1" | od -An -v -tu1 -w3840 | awk -v row="$2" -v sky="$sky" '
        NR == row + 1 {
            split(sky, s, " ")
            n = 0
            for (i = 1; i <= NF; i += 3) {
                if ($i - s[1] <= 4 && s[1] - $i <= 4 && $(i + 1) - s[2] <= 4 && s[2] - $(i + 1) <= 4 &&
                    $(i + 2) - s[3] <= 4 && s[3] - $(i + 2) <= 4) {
                    n++
                }
            }
            printf "%d\n", n * 1000 / (NF / 3)
            exit
        }'
}

check_picture() {
    local name=$1 file=$2 top=$3 size colours top_sky bottom_sky
    if [[ ! -f $file ]]; then
        failures+=("$name: zarn-smoke.ppm is missing")
        return
    fi
    size=$(stat -c %s "$file")
    if ((size != 16 + 1280 * 720 * 3)); then
        failures+=("$name: zarn-smoke.ppm has $size bytes, not $((16 + 1280 * 720 * 3))")
        return
    fi
    if [[ $(head -c 16 "$file" | od -An -c | tr -s ' ') != " P 6 \n 1 2 8 0 7 2 0 \n 2 5 5 \n" ]]; then
        failures+=("$name: zarn-smoke.ppm does not start with the header of a 1280x720 binary PPM")
    fi
    # Not blank: the pixels of every 97th row hold more than one colour.
    colours=$(tail -c +17 "$file" | od -An -v -tu1 -w3840 | awk 'NR % 97 == 1' |
        tr -s ' ' '\n' | awk 'NF' | paste - - - | sort -u | wc -l)
    if ((colours < 2)); then
        failures+=("$name: zarn-smoke.ppm is blank ($colours colour)")
    fi
    top_sky=$(row_sky_share "$file" 0)
    bottom_sky=$(row_sky_share "$file" 719)
    echo "  picture: $colours colours in the sampled rows, sky in $((top_sky / 10))% of the top row" \
        "and $((bottom_sky / 10))% of the bottom row"
    if [[ $top == sky ]] && ((top_sky < 500)); then
        failures+=("$name: the top row should be mostly sky ($((top_sky / 10))%)")
    fi
    if [[ $top == matter ]] && ((top_sky > 100)); then
        failures+=("$name: the camera looks down, yet the top row is $((top_sky / 10))% sky")
    fi
    if ((bottom_sky > 100)); then
        failures+=("$name: the bottom row should be matter, not $((bottom_sky / 10))% sky")
    fi
}

for run in "${runs[@]}"; do
    IFS='|' read -r name options frames fractures top <<<"$run"
    dir="$out/$name"
    echo "e2e-smoke: $name (zarn.exe $options)"
    # shellcheck disable=SC2086 # the options are separate words
    run_windowed "$name" "$program" $options
    status=$?
    if ((status == 124)); then
        failures+=("$name: zarn.exe did not finish within $timeout_seconds s")
    elif ((status != 0)); then
        failures+=("$name: zarn.exe exited with $status")
    fi
    if [[ -e $dir/zarn-error.log ]]; then
        failures+=("$name: zarn-error.log: $(head -c 500 "$dir/zarn-error.log")")
    fi
    if [[ ! -f $dir/config.ini ]]; then
        failures+=("$name: config.ini was not written at the end of the run")
    fi
    report="$dir/zarn-smoke.txt"
    if [[ ! -f $report ]]; then
        failures+=("$name: no report zarn-smoke.txt")
        continue
    fi
    tr -d '\r' <"$report" | paste -sd ' ' | sed 's/^/  report: /'
    [[ $(value "$report" frames) == "$frames" ]] || failures+=("$name: frames=$(value "$report" frames), not $frames")
    [[ $(value "$report" buildings) == 0 ]] || failures+=("$name: buildings=$(value "$report" buildings), not 0")
    [[ $(value "$report" gravity_up_x) == 0 && $(value "$report" gravity_up_y) == 1 ]] ||
        failures+=("$name: gravity up is not (0, 1)")
    found=$(value "$report" fractures)
    case $fractures in
    zero) [[ $found == 0 ]] || failures+=("$name: fractures=$found, not 0") ;;
    positive) [[ $found =~ ^[0-9]+$ ]] && ((found > 0)) || failures+=("$name: fractures=$found, not above 0") ;;
    esac
    [[ $(tail -n 1 "$report" | tr -d '\r') == D3D11_RENDER_OK ]] ||
        failures+=("$name: the report does not end in D3D11_RENDER_OK")
    check_picture "$name" "$dir/zarn-smoke.ppm" "$top"
done

echo "e2e-smoke: start-up failure (zarn_startup_check.exe)"
run_windowed startup-failure "$startup_check"
status=$?
dir="$out/startup-failure"
if ((status == 124)); then
    failures+=("start-up failure: the check did not finish within $timeout_seconds s (a message box left open?)")
elif ((status != 0)); then
    failures+=("start-up failure: the check exited with $status")
fi
if [[ -f $dir/zarn-startup-check.txt ]]; then
    tr -d '\r' <"$dir/zarn-startup-check.txt" | sed 's/^/  /'
    [[ $(tail -n 1 "$dir/zarn-startup-check.txt" | tr -d '\r') == STARTUP_CHECK_OK ]] ||
        failures+=("start-up failure: the check's report does not end in STARTUP_CHECK_OK")
else
    failures+=("start-up failure: no report zarn-startup-check.txt")
fi
if [[ ! -s $dir/zarn-error.log ]]; then
    failures+=("start-up failure: no message in zarn-error.log")
fi

echo "e2e-smoke: wall time of each run under Wine (artefacts in $out)"
printf '  %s\n' "${timings[@]}"
if ((${#failures[@]} > 0)); then
    printf 'e2e-smoke: FAILED: %s\n' "${failures[@]}" >&2
    exit 1
fi
echo "e2e-smoke: ok"
