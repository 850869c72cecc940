#!/usr/bin/env bash
# End-to-end check of the menus, the HUD and the district map under Wine on a virtual X display
# (Xvfb), each run in a scratch folder of its own:
#   - hud: zarn_hud_check.exe draws the main menu, the world selection, the settings page, the
#     in-game HUD, the pause panel and the armory on the GDI canvas over the training ground and
#     checks its own pictures: the Chinese text is drawn as glyphs (ink of the text's colour, in
#     many row and column shapes), not as boxes or not at all. Its report must end in HUD_CHECK_OK.
#   - district: zarn.exe --lujiazui --smoke with the Worlds folder beside it: the report has the
#     building count of the district's table and ends in D3D11_RENDER_OK, and the picture shows
#     towers standing against the sky above the horizon.
#   - no-district: zarn.exe --lujiazui --smoke without the Worlds folder: the run fails (exit 2)
#     and its report gives the loader's message.
# Every run must finish in time without zarn-error.log.
#
#   scripts/e2e-menus.sh [BUILD_DIR]     (default: build/windows)
#
# The pictures (hud-PAGE.ppm, zarn-smoke.ppm), reports and Wine's output stay in
# BUILD_DIR/e2e-menus/NAME/ as the run's artefacts.
# Environment: ZARN_E2E_TIMEOUT (seconds for each run, default 300), and wine-run.sh's own.
set -uo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(dirname "$script_dir")
build_dir=$(cd "${1:-$source_dir/build/windows}" && pwd) || exit 1
program="$build_dir/zarn.exe"
hud_check="$build_dir/tests/zarn_hud_check.exe"
district="$build_dir/Worlds/Lujiazui/Lujiazui.zarnmap"
out="$build_dir/e2e-menus"
timeout_seconds=${ZARN_E2E_TIMEOUT:-300}
pages=(main-menu world-select settings playing paused armory)
# The district's buildings: the lines of its table that are not comments.
buildings=$(grep -v '^#' "$source_dir/tools/mapgen/lujiazui.tsv" | grep -c .)

for file in "$program" "$hud_check" "$district"; do
    if [[ ! -f $file ]]; then
        echo "e2e-menus: $file is missing (build the windows preset first)" >&2
        exit 1
    fi
done
rm -rf "$out"
mkdir -p "$out"

failures=()

# run_windowed NAME WITH_WORLDS PROGRAM [ARGS...]: runs a copy of the program in its own folder.
run_windowed() {
    local name=$1 worlds=$2 exe=$3 dir="$out/$1"
    shift 3
    mkdir -p "$dir"
    cp "$exe" "$dir/"
    if [[ $worlds == yes ]]; then
        cp -r "$build_dir/Worlds" "$dir/"
    fi
    (cd "$dir" && timeout --kill-after=15 $((timeout_seconds + 60)) \
        xvfb-run -a -s "-screen 0 1600x1000x24" \
        env ZARN_WINE_TIMEOUT="$timeout_seconds" "$script_dir/wine-run.sh" "./$(basename "$exe")" "$@" \
        >wine.log 2>&1)
}

# ran NAME STATUS EXPECTED: notes a run that timed out, exited otherwise than expected or left an error log.
ran() {
    local name=$1 status=$2 expected=$3
    if ((status == 124)); then
        failures+=("$name: did not finish within $timeout_seconds s")
    elif ((status != expected)); then
        failures+=("$name: exited with $status, not $expected")
    fi
    if [[ -e $out/$name/zarn-error.log ]]; then
        failures+=("$name: zarn-error.log: $(head -c 500 "$out/$name/zarn-error.log")")
    fi
}

# value FILE NAME: the value of the report's line NAME=
value() {
    tr -d '\r' <"$1" | awk -F= -v name="$2" '$1 == name { print substr($0, length(name) + 2); exit }'
}

ppm_ok() {
    local file=$1
    [[ -f $file ]] && (($(stat -c %s "$file") == 16 + 1280 * 720 * 3)) &&
        [[ $(head -c 16 "$file" | od -An -c | tr -s ' ') == " P 6 \n 1 2 8 0 7 2 0 \n 2 5 5 \n" ]]
}

# towers FILE: per mille of the columns right of the HUD's panels (x 370 to 1279) that hold at
# least 60 pixels unlike the sky between rows 150 and 420, the sky being the top row's commonest
# colour.
towers() {
    tail -c +17 "$1" | od -An -v -tu1 -w3840 | awk '
        NR == 1 {
            for (i = 1; i <= NF; i += 3) { n[$i " " $(i + 1) " " $(i + 2)]++ }
            best = 0
            for (c in n) { if (n[c] > best) { best = n[c]; sky = c } }
            split(sky, s, " ")
        }
        NR >= 151 && NR <= 421 {
            for (x = 370; x < 1280; x++) {
                i = 3 * x + 1
                d = ($i - s[1]) + 0; d = d < 0 ? -d : d
                e = ($(i + 1) - s[2]) + 0; e = e < 0 ? -e : e
                f = ($(i + 2) - s[3]) + 0; f = f < 0 ? -f : f
                if (d + e + f > 20) { column[x]++ }
            }
        }
        END {
            k = 0
            for (x = 370; x < 1280; x++) { if (column[x] >= 60) { k++ } }
            printf "%d\n", k * 1000 / 910
        }'
}

echo "e2e-menus: hud (zarn_hud_check.exe)"
run_windowed hud no "$hud_check"
ran hud $? 0
report="$out/hud/zarn-hud-check.txt"
if [[ -f $report ]]; then
    tr -d '\r' <"$report" | sed 's/^/  /'
    [[ $(tail -n 1 "$report" | tr -d '\r') == HUD_CHECK_OK ]] ||
        failures+=("hud: the report does not end in HUD_CHECK_OK")
else
    failures+=("hud: no report zarn-hud-check.txt")
fi
for page in "${pages[@]}"; do
    ppm_ok "$out/hud/hud-$page.ppm" || failures+=("hud: hud-$page.ppm is missing or not a 1280x720 binary PPM")
done

echo "e2e-menus: district (zarn.exe --lujiazui --smoke)"
run_windowed district yes "$program" --lujiazui --smoke
ran district $? 0
report="$out/district/zarn-smoke.txt"
if [[ -f $report ]]; then
    tr -d '\r' <"$report" | paste -sd ' ' | sed 's/^/  report: /'
    [[ $(value "$report" frames) == 120 ]] || failures+=("district: frames=$(value "$report" frames), not 120")
    [[ $(value "$report" buildings) == "$buildings" ]] ||
        failures+=("district: buildings=$(value "$report" buildings), not the table's $buildings")
    [[ $(tail -n 1 "$report" | tr -d '\r') == D3D11_RENDER_OK ]] ||
        failures+=("district: the report does not end in D3D11_RENDER_OK")
else
    failures+=("district: no report zarn-smoke.txt")
fi
picture="$out/district/zarn-smoke.ppm"
if ppm_ok "$picture"; then
    share=$(towers "$picture")
    echo "  picture: $((share / 10))% of the columns hold towers above the horizon"
    ((share >= 250)) || failures+=("district: towers in only $((share / 10))% of the columns")
else
    failures+=("district: zarn-smoke.ppm is missing or not a 1280x720 binary PPM")
fi

echo "e2e-menus: no-district (zarn.exe --lujiazui --smoke without the Worlds folder)"
run_windowed no-district no "$program" --lujiazui --smoke
ran no-district $? 2
report="$out/no-district/zarn-smoke.txt"
if [[ -f $report ]]; then
    tr -d '\r' <"$report" | paste -sd ' ' | sed 's/^/  report: /'
    [[ $(value "$report" world_load_failed) == "地图包格式无效" ]] ||
        failures+=("no-district: the report does not give the loader's message")
    [[ $(value "$report" buildings) == 0 ]] || failures+=("no-district: the training ground should stay")
else
    failures+=("no-district: no report zarn-smoke.txt")
fi

echo "e2e-menus: artefacts in $out"
if ((${#failures[@]} > 0)); then
    printf 'e2e-menus: FAILED: %s\n' "${failures[@]}" >&2
    exit 1
fi
echo "e2e-menus: ok"
