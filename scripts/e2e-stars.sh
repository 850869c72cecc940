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
#   - zarn-smoke.ppm by content: a 1280x720 binary PPM that is neither black nor of one colour, and
#     the assault rifle drawn whole: inside the outline of its receiver no pixel has the colour of
#     the wooden grip or fore-grip, which sit partly inside the receiver and must stay hidden there.
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

# check_receiver NAME FILE: the pixels inside the outline of the rifle's receiver, and among them
# those of the receiver's own colour (0.23, 0.25, 0.24) and of the wood (0.42, 0.25, 0.13), each in
# any shade. The model is held still in front of the eye (no shot, no reload, no walk), so a pixel is
# inside the outline when the ray through its centre meets the receiver's box, in the eye's frame
# (x right, y up, z ahead, metres) x 0.155..0.265, y -0.2325..-0.1275, z 0.275..0.585, less 2 mm on
# every side for the edges' pixels; a 74 degree view, 1280x720.
check_receiver() {
    local name=$1 file=$2 counts inside gun wood
    e2e_ppm_ok "$file" || return # check_picture has noted it
    counts=$(e2e_pixel_rows "$file" | awk '
        function near(a, b, tolerance) { return a - b < tolerance && b - a < tolerance }
        BEGIN {
            focus = 1.3270448; aspect = 1280 / 720; edge = 0.002
            x0 = 0.155 + edge; x1 = 0.265 - edge; y0 = -0.2325 + edge; y1 = -0.1275 - edge
            z0 = 0.275 + edge; z1 = 0.585 - edge
        }
        {
            dy = (1 - (NR - 0.5) / 360) / focus # the ray (dx, dy, 1) through the pixel centre
            if (dy >= 0) {
                next
            }
            for (i = 1; i <= NF; i += 3) {
                dx = (((i - 1) / 3 + 0.5) / 640 - 1) * aspect / focus
                if (dx <= 0) {
                    continue
                }
                near_end = z0; far_end = z1 # along z, where the ray is within each slab of the box
                if (x0 / dx > near_end) near_end = x0 / dx
                if (x1 / dx < far_end) far_end = x1 / dx
                if (y1 / dy > near_end) near_end = y1 / dy
                if (y0 / dy < far_end) far_end = y0 / dy
                if (near_end > far_end) {
                    continue
                }
                inside++
                r = $i; g = $(i + 1); b = $(i + 2)
                if (r >= 40 && near(g / r, 0.595, 0.03) && near(b / r, 0.31, 0.03)) {
                    wood++
                } else if (r >= 20 && near(g / r, 1.087, 0.06) && near(b / r, 1.043, 0.06)) {
                    gun++
                }
            }
        }
        END { printf "%d %d %d\n", inside, gun, wood }')
    read -r inside gun wood <<<"$counts"
    echo "  receiver: $inside pixels inside its outline, $gun of its colour, $wood of the wood's"
    # The arms and the HUD cover a part of the outline; most of it is the receiver itself.
    ((gun * 2 > inside)) || failures+=("$name: the receiver is not where the weapon model holds it ($gun of $inside pixels)")
    ((wood == 0)) || failures+=("$name: $wood pixels of the wooden grip show through the receiver")
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
    check_receiver "$name" "$dir/zarn-smoke.ppm"
done

e2e_show_timings
e2e_finish
