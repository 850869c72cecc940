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
# shellcheck source=scripts/e2e-common.sh
source "$script_dir/e2e-common.sh"
e2e_begin audio "${1:-}"
base_overrides="mscoree,mshtml=;winemenubuilder.exe=d"

e2e_prepare "$program"
mkdir -p "$out/home"
printf 'pcm.!default { type null }\n' >"$out/home/.asoundrc"
# The prefix is made with the user's own HOME, never with the scratch one.
"$script_dir/wine-run.sh" --init || exit 1

# run NAME HOME DLL_OVERRIDES: zarn.exe --collapse --shoot in its own folder under Xvfb, with Wine
# tracing the wave output calls.
run() {
    local name=$1
    e2e_env=(HOME="$2" WINEDLLOVERRIDES="$3" ZARN_WINEDEBUG=trace+winmm)
    e2e_game_run "$name" no 240 --collapse --shoot
    check_weapon "$name" "$out/$name/zarn-smoke.ppm"
}

# calls DIR FUNCTION: how many times Wine traced a call of the wave output function.
calls() {
    grep -c "trace:winmm:$2 (" "$1/wine.log"
}

# check_weapon NAME FILE: pixels in the colours of the hand (0.49, 0.42, 0.31) and of the wood
# (0.42, 0.25, 0.13) in any shade, in the lower right quarter of the picture and elsewhere.
check_weapon() {
    local name=$1 file=$2 counts lower_right others
    if ! e2e_ppm_ok "$file"; then
        failures+=("$name: zarn-smoke.ppm is missing or not 1280x720")
        return
    fi
    counts=$(e2e_pixel_rows "$file" | awk '
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

e2e_finish " (artefacts in $out)"
