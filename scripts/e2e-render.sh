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
source_dir=$(dirname "$script_dir")
build_dir=$(cd "${1:-$source_dir/build/windows}" && pwd) || exit 1
program="$build_dir/tests/zarn_render_check.exe"
out="$build_dir/e2e-render"
timeout_seconds=${ZARN_E2E_TIMEOUT:-300}
pictures=(training collapse city menu earth-day earth-dusk earth-night earth-orbit stars-space moon)

if [[ ! -f $program ]]; then
    echo "e2e-render: $program is missing (build the windows preset first)" >&2
    exit 1
fi
rm -rf "$out"
mkdir -p "$out"
cd "$out" || exit 1

# -a takes a free display number; the screen is larger than the 1280x720 client area plus frame.
timeout --kill-after=15 $((timeout_seconds + 60)) \
    xvfb-run -a -s "-screen 0 1600x1000x24" \
    env ZARN_WINE_TIMEOUT="$timeout_seconds" "$script_dir/wine-run.sh" "$program" >wine.log 2>&1
status=$?

failures=()
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
elif [[ $(tail -n 1 zarn-render-check.txt | tr -d "\r") != RENDER_CHECK_OK ]]; then
    failures+=("the report does not end in RENDER_CHECK_OK")
fi

expected_size=$((16 + 1280 * 720 * 3))
for name in "${pictures[@]}"; do
    file="$name.ppm"
    if [[ ! -f $file ]]; then
        failures+=("$file is missing")
        continue
    fi
    size=$(stat -c %s "$file")
    if ((size != expected_size)); then
        failures+=("$file has $size bytes, not $expected_size")
        continue
    fi
    if [[ $(head -c 16 "$file" | od -An -c | tr -s ' ') != " P 6 \n 1 2 8 0 7 2 0 \n 2 5 5 \n" ]]; then
        failures+=("$file does not start with the header of a 1280x720 binary PPM")
    fi
    # Not blank: the pixels of every 97th row hold several colours.
    colours=$(tail -c +17 "$file" | od -An -v -tu1 -w3840 | awk 'NR % 97 == 1' |
        tr -s ' ' '\n' | awk 'NF' | paste - - - | sort -u | wc -l)
    if ((colours < 4)); then
        failures+=("$file is blank ($colours colours)")
    fi
done

echo "e2e-render: artefacts in $out"
if [[ -f zarn-render-check.txt ]]; then
    tr -d "\r" <zarn-render-check.txt | sed "s/^/  /"
fi
if ((${#failures[@]} > 0)); then
    printf 'e2e-render: FAILED: %s\n' "${failures[@]}" >&2
    if [[ -s wine.log ]]; then
        echo "e2e-render: Wine's output:" >&2
        tail -n 20 wine.log >&2
    fi
    exit 1
fi
echo "e2e-render: ok"
