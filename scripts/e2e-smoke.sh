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
# shellcheck source=scripts/e2e-common.sh
source "$script_dir/e2e-common.sh"
e2e_begin smoke "${1:-}"
startup_check="$build_dir/tests/zarn_startup_check.exe"

# name | options | frames | fractures (zero, positive or any) | top row (sky or matter)
runs=(
    "smoke|--smoke|120|zero|sky"
    "play|--play --smoke|120|any|sky"
    "collapse|--collapse|360|positive|sky"
    "shoot|--collapse --shoot|240|positive|matter"
)

e2e_prepare "$program" "$startup_check"

sky="107 122 125" # the plain world's sky, linear RGB (0.42, 0.48, 0.49) in bytes

# row_sky_share FILE ROW: per mille of the row's pixels that have the sky's colour (within 4).
row_sky_share() {
    e2e_pixel_rows "$1" | awk -v row="$2" -v sky="$sky" '
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
    if ((size != ppm_size)); then
        failures+=("$name: zarn-smoke.ppm has $size bytes, not $ppm_size")
        return
    fi
    if ! e2e_ppm_header "$file"; then
        failures+=("$name: zarn-smoke.ppm does not start with the header of a 1280x720 binary PPM")
    fi
    # Not blank: the pixels of every 97th row hold more than one colour.
    colours=$(e2e_sampled_colours "$file")
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
    e2e_game_run "$name" yes "$frames" $options
    has_report=$?
    if [[ ! -f $dir/config.ini ]]; then
        failures+=("$name: config.ini was not written at the end of the run")
    fi
    ((has_report == 0)) || continue
    report="$dir/zarn-smoke.txt"
    [[ $(value "$report" buildings) == 0 ]] || failures+=("$name: buildings=$(value "$report" buildings), not 0")
    [[ $(value "$report" gravity_up_x) == 0 && $(value "$report" gravity_up_y) == 1 ]] ||
        failures+=("$name: gravity up is not (0, 1)")
    found=$(value "$report" fractures)
    case $fractures in
    zero) [[ $found == 0 ]] || failures+=("$name: fractures=$found, not 0") ;;
    positive) [[ $found =~ ^[0-9]+$ ]] && ((found > 0)) || failures+=("$name: fractures=$found, not above 0") ;;
    esac
    check_picture "$name" "$dir/zarn-smoke.ppm" "$top"
done

echo "e2e-smoke: start-up failure (zarn_startup_check.exe)"
e2e_run startup-failure yes "$startup_check"
status=$?
dir="$out/startup-failure"
if ((status == 124)); then
    failures+=("start-up failure: the check did not finish within $timeout_seconds s (a message box left open?)")
elif ((status != 0)); then
    failures+=("start-up failure: the check exited with $status")
fi
if [[ -f $dir/zarn-startup-check.txt ]]; then
    tr -d '\r' <"$dir/zarn-startup-check.txt" | sed 's/^/  /'
    [[ $(e2e_last_line "$dir/zarn-startup-check.txt") == STARTUP_CHECK_OK ]] ||
        failures+=("start-up failure: the check's report does not end in STARTUP_CHECK_OK")
else
    failures+=("start-up failure: no report zarn-startup-check.txt")
fi
if [[ ! -s $dir/zarn-error.log ]]; then
    failures+=("start-up failure: no message in zarn-error.log")
fi

e2e_show_timings
e2e_finish
