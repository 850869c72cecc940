#!/usr/bin/env bash
# End-to-end check of the Earth world: runs the Windows build's zarn.exe under Wine on a virtual X
# display (Xvfb) with the Worlds folder beside it, once per Earth scene, each in a scratch folder of
# its own, and checks what each run left:
#   - exit status 0 within the time limit, and no zarn-error.log;
#   - zarn-smoke.txt by value: 120 frames, the district's buildings standing (no fracture), the
#     world's up direction (away from the planet's centre: (0, 1) at the district by day, at night
#     and at dusk alike, the sun circling instead), organisms where the terrain streamed in around
#     the player, and D3D11_RENDER_OK as the last line;
#   - zarn-smoke.ppm by content: a 1280x720 binary PPM that is neither black nor of one colour.
#
#   scripts/e2e-earth.sh [BUILD_DIR]     (default: build/windows)
#
# Each run's folder stays in BUILD_DIR/e2e-earth/NAME/ with the picture, the report and Wine's output.
# Environment: ZARN_E2E_TIMEOUT (seconds for each run, default 300), and wine-run.sh's own.
set -uo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/e2e-common.sh
source "$script_dir/e2e-common.sh"
e2e_begin earth "${1:-}"
buildings=$(e2e_district_buildings)

# name | options | up x | up y | organisms (some, or any where no terrain streams: from orbit, and
# in the frozen probe)
runs=(
    "earth|--earth --smoke|0|1|some"
    "outskirts|--earth --smoke --outskirts|0|1|some"
    "orbit|--earth --smoke --orbit|0|1|any"
    "night|--earth --smoke --night|0|1|some"
    "dusk|--earth --smoke --dusk|0|1|some"
    "probe|--earth --lighting-probe --smoke --dusk|0|1|any"
)

e2e_prepare "$program" "$build_dir/Worlds/Lujiazui/Lujiazui.zarnmap" "$build_dir/Worlds/Earth/ecosystem.zarneco"

# near A B: A lies within 0.01 of B (up is the planet's, a hair off the vertical at the district).
near() {
    awk -v a="$1" -v b="$2" 'BEGIN { d = a - b; exit !(a != "" && d < 0.01 && d > -0.01) }'
}

# picture FILE: the distinct colours of every 29th row, and the per mille of their pixels that are
# not black (a channel above 8: the night sky is dark, but not black).
picture() {
    e2e_pixel_rows "$1" | awk 'NR % 29 == 1' | tr -s ' ' '\n' | awk 'NF' |
        paste - - - | awk '{ n++; seen[$0] = 1; if ($1 > 8 || $2 > 8 || $3 > 8) { lit++ } }
            END { k = 0; for (c in seen) { k++ }; printf "%d %d\n", k, lit * 1000 / (n ? n : 1) }'
}

for run in "${runs[@]}"; do
    IFS='|' read -r name options up_x up_y organisms <<<"$run"
    dir="$out/$name"
    echo "e2e-earth: $name (zarn.exe $options)"
    # shellcheck disable=SC2086 # the options are separate words
    e2e_game_run "$name" yes 120 $options || continue
    report="$dir/zarn-smoke.txt"
    if [[ $name != probe ]]; then # the probe scene keeps no buildings
        [[ $(value "$report" buildings) == "$buildings" ]] ||
            failures+=("$name: buildings=$(value "$report" buildings), not the table's $buildings")
        [[ $(value "$report" fractures) == 0 ]] ||
            failures+=("$name: fractures=$(value "$report" fractures): the district did not stand")
    fi
    near "$(value "$report" gravity_up_x)" "$up_x" && near "$(value "$report" gravity_up_y)" "$up_y" ||
        failures+=("$name: gravity up is not ($up_x, $up_y)")
    found=$(value "$report" organisms)
    if [[ ! $found =~ ^[0-9]+$ ]]; then
        failures+=("$name: organisms=$found is no count")
    elif [[ $organisms == some ]] && ((found == 0)); then
        failures+=("$name: no organisms around the player")
    fi
    ppm="$dir/zarn-smoke.ppm"
    if e2e_ppm_ok "$ppm"; then
        read -r colours lit <<<"$(picture "$ppm")"
        echo "  picture: $colours colours in the sampled rows, $((lit / 10))% of their pixels not black"
        ((colours >= 8)) || failures+=("$name: zarn-smoke.ppm has only $colours colours")
        ((lit >= 50)) || failures+=("$name: zarn-smoke.ppm is almost black ($((lit / 10))% lit)")
    else
        failures+=("$name: zarn-smoke.ppm is missing or not a 1280x720 binary PPM")
    fi
done

echo "e2e-earth: artefacts in $out"
e2e_finish
