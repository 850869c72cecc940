#!/usr/bin/env bash
# The project's run command: installs what is missing, builds the Windows program (the windows
# preset: zarn.exe and the district's map pack in build/windows/) and starts it under Wine.
#
#   bash scripts/run.sh [OPTIONS...]     the options go to zarn.exe (e.g. --play, --collapse)
#
# The game needs a screen. Without one (DISPLAY unset) the script says how to see the game and
# makes an unattended run on a virtual display (Xvfb) instead: the collapse of the training
# ground's test gate, or the options given plus --smoke; it prints the report and where the
# screenshot is.
set -euo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(dirname "$script_dir")
bash "$script_dir/setup.sh"

cd "$source_dir"
echo "Building zarn.exe (windows preset) ..."
cmake --preset windows --log-level=WARNING >/dev/null
cmake --build --preset windows --target zarn_game zarn_lujiazui_map -- --quiet
program_dir="$source_dir/build/windows"
program="$program_dir/zarn.exe"

if [[ -n ${DISPLAY:-} ]]; then
    echo "Starting $program under Wine on display $DISPLAY (settings in $program_dir/config.ini)."
    # No time limit: the game runs until it is closed.
    ZARN_WINE_TIMEOUT=0 exec "$script_dir/wine-run.sh" "$program" "$@"
fi

options=("$@")
if ((${#options[@]} == 0)); then
    options=(--collapse)
elif [[ " ${options[*]} " != *--smoke* && " ${options[*]} " != *--collapse* ]]; then
    options+=(--smoke)
fi
cat <<EOF
There is no display here (DISPLAY is not set), so the game cannot open its window for you.
To play, run this command in a desktop session on this machine, or over SSH with X forwarding
(ssh -X), so that DISPLAY points at your screen.
Meanwhile, an unattended run on a virtual display: zarn.exe ${options[*]}
EOF
rm -f "$program_dir/zarn-smoke.txt" "$program_dir/zarn-smoke.ppm"
log_size=$(stat -c %s "$program_dir/zarn-error.log" 2>/dev/null || echo 0)
status=0
(cd "$program_dir" && ZARN_WINE_TIMEOUT=300 xvfb-run -a -s "-screen 0 1600x1000x24" \
    "$script_dir/wine-run.sh" ./zarn.exe "${options[@]}" >wine-run.log 2>&1) || status=$?
if [[ -f $program_dir/zarn-smoke.txt ]]; then
    echo "Report ($program_dir/zarn-smoke.txt):"
    tr -d '\r' <"$program_dir/zarn-smoke.txt" | sed 's/^/  /'
fi
if [[ -f $program_dir/zarn-smoke.ppm ]]; then
    echo "Screenshot of the last frame (1280x720 binary PPM): $program_dir/zarn-smoke.ppm"
fi
if (($(stat -c %s "$program_dir/zarn-error.log" 2>/dev/null || echo 0) > log_size)); then
    echo "Errors of this run ($program_dir/zarn-error.log):"
    tail -c +$((log_size + 1)) "$program_dir/zarn-error.log" | sed 's/^/  /'
fi
if ((status != 0)); then
    echo "zarn.exe ended with exit status $status (Wine's output: $program_dir/wine-run.log)" >&2
fi
exit "$status"
