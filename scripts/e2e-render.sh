#!/usr/bin/env bash
# End-to-end check of the renderer on a real Direct3D 11 device: runs the Windows build's
# zarn_render_check.exe under Wine on a virtual X display (Xvfb) in a scratch folder. The program
# draws the training ground, the collapsing test gate, the city and the menu's view of it, the Earth
# and the stars, captures each frame to a PPM picture and checks the pictures against the world.
# This script then checks what the run left: exit status 0, no zarn-error.log, the report ending in
# RENDER_CHECK_OK, and ten 1280x720 binary PPM files of the right size that are not one flat colour.
#
#   scripts/e2e-render.sh [BUILD_DIR]     (default: build/windows)
#
# The pictures, the report and Wine's output stay in BUILD_DIR/e2e-render/ as the run's artefacts.
# Environment: ZARN_E2E_TIMEOUT (seconds for the program, default 300), and wine-run.sh's own.
set -uo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/e2e-common.sh
source "$script_dir/e2e-common.sh"
e2e_begin render "${1:-}"
program="$build_dir/tests/zarn_render_check.exe"
pictures=(training collapse city menu earth-day earth-dusk earth-night earth-orbit stars-space moon)

e2e_prepare "$program"
e2e_wine "$out" "$program"
status=$?
cd "$out" || exit 1

if ((status == 124)); then
    failures+=("the check program did not finish within $timeout_seconds s")
elif ((status != 0)); then
    failures+=("the check program exited with $status")
fi
if [[ -e zarn-error.log ]]; then
    failures+=("zarn-error.log: $(head -c 500 zarn-error.log)")
fi
if [[ ! -f zarn-render-check.txt ]]; then
    failures+=("no report zarn-render-check.txt")
elif [[ $(e2e_last_line zarn-render-check.txt) != RENDER_CHECK_OK ]]; then
    failures+=("the report does not end in RENDER_CHECK_OK")
fi

for name in "${pictures[@]}"; do
    file="$name.ppm"
    if [[ ! -f $file ]]; then
        failures+=("$file is missing")
        continue
    fi
    size=$(stat -c %s "$file")
    if ((size != ppm_size)); then
        failures+=("$file has $size bytes, not $ppm_size")
        continue
    fi
    if ! e2e_ppm_header "$file"; then
        failures+=("$file does not start with the header of a 1280x720 binary PPM")
    fi
    # Not blank: the pixels of every 97th row hold several colours.
    colours=$(e2e_sampled_colours "$file")
    if ((colours < 4)); then
        failures+=("$file is blank ($colours colours)")
    fi
done

echo "e2e-render: artefacts in $out"
if [[ -f zarn-render-check.txt ]]; then
    tr -d "\r" <zarn-render-check.txt | sed "s/^/  /"
fi
if e2e_failed; then
    if [[ -s wine.log ]]; then
        echo "e2e-render: Wine's output:" >&2
        tail -n 20 wine.log >&2
    fi
    exit 1
fi
echo "e2e-render: ok"
