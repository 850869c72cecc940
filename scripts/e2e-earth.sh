#!/usr/bin/env bash
# End-to-end check of the Earth world: runs the Windows build's zarn.exe under Wine on a virtual X
# display (Xvfb) with the Worlds folder beside it, once per Earth scene, each in a scratch folder of
# its own, and checks what each run left:
#   - exit status 0 within the time limit, and no zarn-error.log;
#   - zarn-smoke.txt by value: 120 frames, the district's buildings, the world's up direction of the
#     scene (it turns with the day: (0, 1) by day, (0, -1) at midnight, (-1, 0) at dusk), organisms
#     where the terrain streamed in around the player, and D3D11_RENDER_OK as the last line;
#   - zarn-smoke.ppm by content: a 1280x720 binary PPM that is neither black nor of one colour.
#
#   scripts/e2e-earth.sh [BUILD_DIR]     (default: build/windows)
#
# Each run's folder stays in BUILD_DIR/e2e-earth/NAME/ with the picture, the report and Wine's output.
# Environment: ZARN_E2E_TIMEOUT (seconds for each run, default 300), and wine-run.sh's own.
set -uo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(dirname "$script_dir")
build_dir=$(cd "${1:-$source_dir/build/windows}" && pwd) || exit 1
program="$build_dir/zarn.exe"
out="$build_dir/e2e-earth"
timeout_seconds=${ZARN_E2E_TIMEOUT:-300}
buildings=$(grep -v '^#' "$source_dir/tools/mapgen/lujiazui.tsv" | grep -c .)

# name | options | up x | up y | organisms (some, or any where no terrain streams: from orbit, and
# in the frozen probe)
runs=(
    "earth|--earth --smoke|0|1|some"
    "outskirts|--earth --smoke --outskirts|0|1|some"
    "orbit|--earth --smoke --orbit|0|1|any"
    "night|--earth --smoke --night|0|-1|some"
    "probe|--earth --lighting-probe --smoke --dusk|-1|0|any"
)


for file in "$program" "$build_dir/Worlds/Lujiazui/Lujiazui.zarnmap" "$build_dir/Worlds/Earth/ecosystem.zarneco"; do
    if [[ ! -f $file ]]; then
        echo "e2e-earth: $file is missing (build the windows preset first)" >&2
        exit 1
    fi
done
rm -rf "$out"
mkdir -p "$out"
failures=()

# value FILE NAME: the value of the report's line NAME=
value() {
    tr -d '\r' <"$1" | awk -F= -v name="$2" '$1 == name { print substr($0, length(name) + 2); exit }'
}

# near A B: A lies within 0.01 of B (the day turns a little during the run).
near() {
    awk -v a="$1" -v b="$2" 'BEGIN { d = a - b; exit !(a != "" && d < 0.01 && d > -0.01) }'
}

# picture FILE: the distinct colours of every 29th row, and the per mille of their pixels that are
# not black (a channel above 8: the night sky is dark, but not black).
picture() {
    tail -c +17 "$1" | od -An -v -tu1 -w3840 | awk 'NR % 29 == 1' | tr -s ' ' '\n' | awk 'NF' |
        paste - - - | awk '{ n++; seen[$0] = 1; if ($1 > 8 || $2 > 8 || $3 > 8) { lit++ } }
            END { k = 0; for (c in seen) { k++ }; printf "%d %d\n", k, lit * 1000 / (n ? n : 1) }'
}

for run in "${runs[@]}"; do
    IFS='|' read -r name options up_x up_y organisms <<<"$run"
    dir="$out/$name"
    echo "e2e-earth: $name (zarn.exe $options)"
    mkdir -p "$dir"
    cp "$program" "$dir/"
    cp -r "$build_dir/Worlds" "$dir/"
    # shellcheck disable=SC2086 # the options are separate words
    (cd "$dir" && timeout --kill-after=15 $((timeout_seconds + 60)) \
        xvfb-run -a -s "-screen 0 1600x1000x24" \
        env ZARN_WINE_TIMEOUT="$timeout_seconds" "$script_dir/wine-run.sh" ./zarn.exe $options >wine.log 2>&1)
    status=$?
    if ((status == 124)); then
        failures+=("$name: zarn.exe did not finish within $timeout_seconds s")
    elif ((status != 0)); then
        failures+=("$name: zarn.exe exited with $status")
    fi
    if [[ -e $dir/zarn-error.log ]]; then
        failures+=("$name: zarn-error.log: $(head -c 500 "$dir/zarn-error.log")")
    fi
    report="$dir/zarn-smoke.txt"
    if [[ ! -f $report ]]; then
        failures+=("$name: no report zarn-smoke.txt")
        continue
    fi
    tr -d '\r' <"$report" | paste -sd ' ' | sed 's/^/  report: /'
    [[ $(value "$report" frames) == 120 ]] || failures+=("$name: frames=$(value "$report" frames), not 120")
    if [[ $name != probe ]]; then # the probe scene keeps no buildings
        [[ $(value "$report" buildings) == "$buildings" ]] ||
            failures+=("$name: buildings=$(value "$report" buildings), not the table's $buildings")
    fi
    near "$(value "$report" gravity_up_x)" "$up_x" && near "$(value "$report" gravity_up_y)" "$up_y" ||
        failures+=("$name: gravity up is not ($up_x, $up_y)")
    found=$(value "$report" organisms)
    if [[ ! $found =~ ^[0-9]+$ ]]; then
        failures+=("$name: organisms=$found is no count")
    elif [[ $organisms == some ]] && ((found == 0)); then
        failures+=("$name: no organisms around the player")
    fi
    [[ $(tail -n 1 "$report" | tr -d '\r') == D3D11_RENDER_OK ]] ||
        failures+=("$name: the report does not end in D3D11_RENDER_OK")
    ppm="$dir/zarn-smoke.ppm"
    if [[ -f $ppm ]] && (($(stat -c %s "$ppm") == 16 + 1280 * 720 * 3)); then
        read -r colours lit <<<"$(picture "$ppm")"
        echo "  picture: $colours colours in the sampled rows, $((lit / 10))% of their pixels not black"
        ((colours >= 8)) || failures+=("$name: zarn-smoke.ppm has only $colours colours")
        ((lit >= 50)) || failures+=("$name: zarn-smoke.ppm is almost black ($((lit / 10))% lit)")
    else
        failures+=("$name: zarn-smoke.ppm is missing or not a 1280x720 binary PPM")
    fi
done

echo "e2e-earth: artefacts in $out"
if ((${#failures[@]} > 0)); then
    printf 'e2e-earth: FAILED: %s\n' "${failures[@]}" >&2
    exit 1
fi
echo "e2e-earth: ok"
