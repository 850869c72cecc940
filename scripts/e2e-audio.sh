#!/usr/bin/env bash
# End-to-end check of the game's sound output and first-person weapon under Wine and Xvfb: runs
# zarn.exe --collapse --shoot (the test gate's collapse, two shots) twice, each in a scratch copy of
# the program folder, with Wine tracing its wave output calls:
#   - no-device: Wine's audio drivers switched off for the process, so no wave output device can be
#     opened (as on a machine without a sound card): the game must run on silently, and no buffer is
#     ever handed to the device;
#   - null-output: HOME points at a folder whose .asoundrc gives ALSA a null output, so the device
#     opens: the collapse's sounds and the shots are queued, more than the twelve buffers hold, so
#     played buffers are polled as finished and used again; every prepared buffer is released, and
#     the device is reset and closed at the end.
# Both runs must end with exit status 0, no zarn-error.log, a report of 240 frames ending in
# D3D11_RENDER_OK, and a picture with the hand and the assault rifle's wooden grip (told by their
# colours' proportions, whatever the face's shading) in its lower right quarter and nowhere else.
#
#   scripts/e2e-audio.sh [BUILD_DIR]     (default: build/windows)
#
# Each run's folder stays in BUILD_DIR/e2e-audio/NAME/ with the picture, the report and Wine's output.
# Environment: ZARN_E2E_TIMEOUT (seconds for each run, default 300), and wine-run.sh's own.
set -uo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(dirname "$script_dir")
build_dir=$(cd "${1:-$source_dir/build/windows}" && pwd) || exit 1
program="$build_dir/zarn.exe"
out="$build_dir/e2e-audio"
timeout_seconds=${ZARN_E2E_TIMEOUT:-300}
base_overrides="mscoree,mshtml=;winemenubuilder.exe=d"

if [[ ! -f $program ]]; then
    echo "e2e-audio: $program is missing (build the windows preset first)" >&2
    exit 1
fi
rm -rf "$out"
mkdir -p "$out/home"
printf 'pcm.!default { type null }\n' >"$out/home/.asoundrc"
# The prefix is made with the user's own HOME, never with the scratch one.
"$script_dir/wine-run.sh" --init || exit 1

failures=()

# run NAME HOME DLL_OVERRIDES: zarn.exe --collapse --shoot in its own folder under Xvfb.
run() {
    local name=$1 home=$2 overrides=$3 dir="$out/$1"
    mkdir -p "$dir"
    cp "$program" "$dir/"
    (cd "$dir" && timeout --kill-after=15 $((timeout_seconds + 60)) \
        xvfb-run -a -s "-screen 0 1600x1000x24" \
        env HOME="$home" WINEDLLOVERRIDES="$overrides" ZARN_WINEDEBUG=trace+winmm \
        ZARN_WINE_TIMEOUT="$timeout_seconds" "$script_dir/wine-run.sh" ./zarn.exe --collapse --shoot \
        >wine.log 2>&1)
    local status=$?
    if ((status == 124)); then
        failures+=("$name: zarn.exe did not finish within $timeout_seconds s")
    elif ((status != 0)); then
        failures+=("$name: zarn.exe exited with $status")
    fi
    if [[ -e $dir/zarn-error.log ]]; then
        failures+=("$name: zarn-error.log: $(head -c 500 "$dir/zarn-error.log")")
    fi
    local report="$dir/zarn-smoke.txt"
    if [[ ! -f $report ]]; then
        failures+=("$name: no report zarn-smoke.txt")
    else
        [[ $(tr -d '\r' <"$report" | awk -F= '$1 == "frames" { print $2 }') == 240 ]] ||
            failures+=("$name: the report does not say frames=240")
        [[ $(tail -n 1 "$report" | tr -d '\r') == D3D11_RENDER_OK ]] ||
            failures+=("$name: the report does not end in D3D11_RENDER_OK")
    fi
    check_weapon "$name" "$dir/zarn-smoke.ppm"
}

# calls DIR FUNCTION: how many times Wine traced a call of the wave output function.
calls() {
    grep -c "trace:winmm:$2 (" "$1/wine.log"
}

# check_weapon NAME FILE: pixels in the colours of the hand (0.49, 0.42, 0.31) and of the wood
# (0.42, 0.25, 0.13) in any shade, in the lower right quarter of the picture and elsewhere.
check_weapon() {
    local name=$1 file=$2 counts lower_right others
    if [[ ! -f $file ]] || (($(stat -c %s "$file") != 16 + 1280 * 720 * 3)); then
        failures+=("$name: zarn-smoke.ppm is missing or not 1280x720")
        return
    fi
    counts=$(tail -c +17 "$file" | od -An -v -tu1 -w3840 | awk '
        function near(a, b) { return a - b < 0.03 && b - a < 0.03 }
        {
            lower = NR > 360
            for (i = 1; i <= NF; i += 3) {
                r = $i; g = $(i + 1); b = $(i + 2)
                if (r < 40) {
                    continue
                }
                hand = near(g / r, 0.857) && near(b / r, 0.633)
                wood = near(g / r, 0.595) && near(b / r, 0.31)
                if (hand || wood) {
                    if (lower && i > 1920) { lr++ } else { other++ }
                }
            }
        }
        END { printf "%d %d\n", lr, other }')
    read -r lower_right others <<<"$counts"
    echo "  picture: $lower_right pixels of the hand and the grip in the lower right quarter, $others elsewhere"
    if ((lower_right < 2000)); then
        failures+=("$name: no weapon model in the lower right of the picture ($lower_right pixels)")
    fi
    if ((others * 20 > lower_right)); then
        failures+=("$name: the weapon's colours outside the lower right ($others against $lower_right)")
    fi
}

echo "e2e-audio: no-device (Wine's audio drivers off)"
run no-device "$HOME" "$base_overrides;winealsa.drv,winepulse.drv,wineoss.drv=d"
dir="$out/no-device"
if (($(calls "$dir" waveOutOpen) != 1)); then
    failures+=("no-device: waveOutOpen was not called once (is Wine's winmm tracing available?)")
fi
if (($(calls "$dir" waveOutWrite) != 0)); then
    failures+=("no-device: buffers were written to a device that could not be opened")
fi

echo "e2e-audio: null-output (ALSA's null output)"
run null-output "$out/home" "$base_overrides;winepulse.drv,wineoss.drv=d"
dir="$out/null-output"
writes=$(calls "$dir" waveOutWrite)
prepares=$(calls "$dir" waveOutPrepareHeader)
releases=$(calls "$dir" waveOutUnprepareHeader)
headers=$(grep "trace:winmm:waveOutPrepareHeader (" "$dir/wine.log" | awk '{ print $3 }' | sort -u | wc -l)
echo "  wave output: $writes buffers queued through $headers headers, $prepares prepared," \
    "$releases released, $(calls "$dir" waveOutReset) reset, $(calls "$dir" waveOutClose) closed"
if ((writes <= 12)); then
    failures+=("null-output: only $writes buffers were queued; the twelve were never used again")
fi
if ((headers > 12)); then
    failures+=("null-output: $headers different headers were queued, not at most twelve")
fi
if ((prepares != writes || releases != prepares)); then
    failures+=("null-output: $writes writes, $prepares prepared and $releases released buffers do not match")
fi
if (($(calls "$dir" waveOutReset) != 1 || $(calls "$dir" waveOutClose) != 1)); then
    failures+=("null-output: the device was not reset and closed once at the end")
fi

if ((${#failures[@]} > 0)); then
    printf 'e2e-audio: FAILED: %s\n' "${failures[@]}" >&2
    exit 1
fi
echo "e2e-audio: ok (artefacts in $out)"
