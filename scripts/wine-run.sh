#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own Wine prefix and passes its exit code
# through. CTest uses it for the Windows test programs; the end-to-end scripts use it for zarn.exe.
#
#   scripts/wine-run.sh PROGRAM.exe [ARGUMENTS...]
#   scripts/wine-run.sh --init          only make the prefix ready
#
# Environment:
#   ZARN_WINEPREFIX     the prefix (default: build/windows/wineprefix in this checkout)
#   ZARN_WINE_TIMEOUT   seconds before the program is stopped (default 600; exit code 124 then)
#   ZARN_WINEDEBUG      Wine's debug channels (default -all: Wine stays silent)
#
# Console programs need no display. Windowed runs need DISPLAY set (Xvfb).
set -euo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(dirname "$script_dir")

export WINEPREFIX="${ZARN_WINEPREFIX:-$source_dir/build/windows/wineprefix}"
export WINEARCH=win64
export WINEDEBUG="${ZARN_WINEDEBUG:--all}"
# No prompts to install Mono or Gecko (a version change of Wine updates the prefix on the next
# run, so this holds for every run), and no desktop menu entries for what runs here.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"

# Debian 12's `wine` wrapper prefers a 32-bit loader and nags when there is none; the game and
# its tests are 64-bit, so go to the 64-bit loader and server directly where they exist.
if [[ -x /usr/lib/wine/wine64 ]]; then
    wine=/usr/lib/wine/wine64
    export WINELOADER="$wine"
elif command -v wine64 >/dev/null; then
    wine=$(command -v wine64)
else
    wine=$(command -v wine)
fi
if [[ -x /usr/lib/wine/wineserver64 ]]; then
    wineserver=/usr/lib/wine/wineserver64
    export WINESERVER="$wineserver"
else
    wineserver=$(command -v wineserver)
fi

ready_mark="$WINEPREFIX/.zarn-ready"

write_settings() {
    # "Microsoft YaHei" is the game's font: WenQuanYi Micro Hei draws its Chinese text under Wine.
    # A crash prints its report and ends the program instead of waiting for a click.
    cat >"$1" <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"Microsoft YaHei"="WenQuanYi Micro Hei"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
EOF
}

init_prefix() {
    [[ -f $ready_mark ]] && return 0
    mkdir -p "$(dirname "$WINEPREFIX")"
    # Tests start in parallel: the first one sets the prefix up while the others wait here.
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [[ ! -f $ready_mark ]]; then
        local log="$WINEPREFIX.init.log" settings="$WINEPREFIX.settings.reg"
        if ! {
            timeout 300 "$wine" wineboot --init &&
                write_settings "$settings" &&
                timeout 120 "$wine" regedit /S "$settings" &&
                timeout 120 "$wineserver" --wait
        } >"$log" 2>&1 </dev/null; then
            echo "wine-run: could not set up the Wine prefix $WINEPREFIX:" >&2
            cat "$log" >&2
            exit 1
        fi
        rm -f "$settings"
        touch "$ready_mark"
    fi
    flock -u 9
    exec 9>&-
}

if (($# == 0)); then
    echo "usage: $0 PROGRAM.exe [ARGUMENTS...] | --init" >&2
    exit 2
fi
init_prefix
if [[ $1 == --init ]]; then
    exit 0
fi
exec timeout --kill-after=15 "${ZARN_WINE_TIMEOUT:-600}" "$wine" "$@"
