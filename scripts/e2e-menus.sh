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
# shellcheck source=scripts/e2e-common.sh
source "$script_dir/e2e-common.sh"
e2e_begin menus "${1:-}"
hud_check="$build_dir/tests/zarn_hud_check.exe"
district="$build_dir/Worlds/Lujiazui/Lujiazui.zarnmap"
pages=(main-menu world-select settings playing paused armory)
buildings=$(e2e_district_buildings)

e2e_prepare "$program" "$hud_check" "$district"

# towers FILE: per mille of the columns right of the HUD's panels (x 370 to 1279) that hold at
# least 60 pixels unlike the sky between rows 150 and 420, the sky being the top row's commonest
# colour.
towers() {
    e2e_pixel_rows "$1" | awk '
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
e2e_run hud no "$hud_check"
e2e_ran hud $? zarn_hud_check.exe
report="$out/hud/zarn-hud-check.txt"
if [[ -f $report ]]; then
    tr -d '\r' <"$report" | sed 's/^/  /'
    [[ $(e2e_last_line "$report") == HUD_CHECK_OK ]] ||
        failures+=("hud: the report does not end in HUD_CHECK_OK")
else
    failures+=("hud: no report zarn-hud-check.txt")
fi
for page in "${pages[@]}"; do
    e2e_ppm_ok "$out/hud/hud-$page.ppm" || failures+=("hud: hud-$page.ppm is missing or not a 1280x720 binary PPM")
done

echo "e2e-menus: district (zarn.exe --lujiazui --smoke)"
if e2e_game_run district yes 120 --lujiazui --smoke; then
    report="$out/district/zarn-smoke.txt"
    [[ $(value "$report" buildings) == "$buildings" ]] ||
        failures+=("district: buildings=$(value "$report" buildings), not the table's $buildings")
fi
picture="$out/district/zarn-smoke.ppm"
if e2e_ppm_ok "$picture"; then
    share=$(towers "$picture")
    echo "  picture: $((share / 10))% of the columns hold towers above the horizon"
    ((share >= 250)) || failures+=("district: towers in only $((share / 10))% of the columns")
else
    failures+=("district: zarn-smoke.ppm is missing or not a 1280x720 binary PPM")
fi

echo "e2e-menus: no-district (zarn.exe --lujiazui --smoke without the Worlds folder)"
e2e_run no-district no "$program" --lujiazui --smoke
e2e_ran no-district $? zarn.exe 2
report="$out/no-district/zarn-smoke.txt"
if e2e_report no-district "$report"; then
    [[ $(value "$report" world_load_failed) == "地图包格式无效" ]] ||
        failures+=("no-district: the report does not give the loader's message")
    [[ $(value "$report" buildings) == 0 ]] || failures+=("no-district: the training ground should stay")
fi

echo "e2e-menus: artefacts in $out"
e2e_finish
