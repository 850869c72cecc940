#!/usr/bin/env bash
# End-to-end check of the star world: zarn.exe --stars --smoke under Wine on a virtual X display
# (Xvfb), alone and with each of its placements, every run in a scratch copy of the program folder
# with the Worlds folder beside it:
#   - stars: on the district on the Earth; moon: set down 80 m above the Moon; space: 30,000 km
#     above the Earth; warp: four forward taps from there, a jump of a light-year.
#   - exit status 0 within the time limit, and no zarn-error.log;
#   - zarn-smoke.txt by value: 120 frames, the district's buildings while the Earth is the frame and
#     none once the matter was rebuilt elsewhere, the up direction of the scene, and D3D11_RENDER_OK
#     as the last line;
#   - zarn-smoke.ppm by content: a 1280x720 binary PPM that is neither black nor of one colour.
#
#   scripts/e2e-stars.sh [BUILD_DIR]     (default: build/windows)
#
# Each run's folder stays in BUILD_DIR/e2e-stars/NAME/ with the picture, the report and Wine's output.
# Environment: ZARN_E2E_TIMEOUT (seconds for each run, default 300), and wine-run.sh's own.
set -uo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/e2e-common.sh
source "$script_dir/e2e-common.sh"
e2e_begin stars "${1:-}"
district="$build_dir/Worlds/Lujiazui/Lujiazui.zarnmap"
buildings=$(e2e_district_buildings)

# name | options | buildings | least and greatest x of up | least and greatest y of up. Up is
# (0, 1) but for the far pulls of the Sun and the Moon; after the warp it points away from the Sun.
runs=(
    "stars|--stars --smoke|$buildings|-0.001 0.001|0.9999 1"
    "moon|--stars --smoke --moon|0|-0.01 0.01|0.999 1"
    "space|--stars --smoke --space|$buildings|-0.01 0.01|0.999 1"
    "warp|--stars --smoke --warp|0|-0.01 0.01|0.92 0.94"
)

e2e_prepare "$program" "$district"

# check_picture NAME FILE: a 1280x720 binary PPM with more than one colour and more than black.
check_picture() {
    local name=$1 file=$2 summary colours lit
    if [[ ! -f $file ]]; then
        failures+=("$name: zarn-smoke.ppm is missing")
        return
    fi
    if ! e2e_ppm_ok "$file"; then
        failures+=("$name: zarn-smoke.ppm is not a 1280x720 binary PPM ($(stat -c %s "$file") bytes)")
        return
    fi
    # Every 37th row: how many colours, and the per mille of pixels that are not black.
    summary=$(e2e_pixel_rows "$file" | awk '
        NR % 37 == 1 {
            for (i = 1; i <= NF; i += 3) {
                seen[$i " " $(i + 1) " " $(i + 2)] = 1
                lit += ($i + $(i + 1) + $(i + 2) > 24)
                n++
            }
        }
        END { k = 0; for (c in seen) { k++ }; printf "%d %d\n", k, lit * 1000 / n }')
    read -r colours lit <<<"$summary"
    echo "  picture: $colours colours in the sampled rows, $((lit / 10))% of their pixels not black"
    ((colours >= 2)) || failures+=("$name: zarn-smoke.ppm is of one colour")
    ((lit >= 5)) || failures+=("$name: zarn-smoke.ppm is black ($lit per mille lit)")
}

for run in "${runs[@]}"; do
    IFS='|' read -r name options count x_range y_range <<<"$run"
    dir="$out/$name"
    echo "e2e-stars: $name (zarn.exe $options)"
    # shellcheck disable=SC2086 # the options are separate words
    e2e_game_run "$name" yes 120 $options || continue
    report="$dir/zarn-smoke.txt"
    [[ $(value "$report" buildings) == "$count" ]] ||
        failures+=("$name: buildings=$(value "$report" buildings), not $count")
    # The up direction: a unit vector within the scene's bounds.
    up_x=$(value "$report" gravity_up_x)
    up_y=$(value "$report" gravity_up_y)
    awk -v x="$up_x" -v y="$up_y" -v xs="$x_range" -v ys="$y_range" 'BEGIN {
            split(xs, a, " ")
            split(ys, b, " ")
            ok = x ~ /^-?[0-9.e+-]+$/ && y ~ /^-?[0-9.e+-]+$/ && x * x + y * y <= 1.000001
            exit ok && x >= a[1] && x <= a[2] && y >= b[1] && y <= b[2] ? 0 : 1
        }' || failures+=("$name: gravity up ($up_x, $up_y) is not within x $x_range, y $y_range")
    check_picture "$name" "$dir/zarn-smoke.ppm"
done

e2e_show_timings
e2e_finish
