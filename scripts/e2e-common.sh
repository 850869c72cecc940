# shellcheck shell=bash
# What the end-to-end scripts share, sourced by each of them after it set script_dir: the scratch
# folders, the runs under Wine on a virtual X display (Xvfb), and the checks of a run's exit, report
# and picture that every script makes the same way. Each script keeps its own checks.
#
# e2e_begin NAME [BUILD_DIR] sets, for the functions below and the script:
#   e2e_name         the script's name in its messages (e2e-NAME)
#   source_dir       the checkout
#   build_dir        the Windows build (default: build/windows)
#   program          zarn.exe in the build
#   out              BUILD_DIR/e2e-NAME: one folder per run, kept as the run's artefacts
#   timeout_seconds  ZARN_E2E_TIMEOUT, the seconds each run may take (default 300)
#   failures         the failures noted so far, one message each
#   timings          the wall time of each run, one line each
#   e2e_env          VARIABLE=VALUE words a script may set for the runs' environment

# The picture every run captures: a 1280x720 binary PPM, its 16-byte header and 3 bytes a pixel.
ppm_size=$((16 + 1280 * 720 * 3))

e2e_begin() {
    e2e_name="e2e-$1"
    # shellcheck disable=SC2154 # the sourcing script sets script_dir
    source_dir=$(dirname "$script_dir")
    build_dir=$(cd "${2:-$source_dir/build/windows}" && pwd) || exit 1
    program="$build_dir/zarn.exe"
    out="$build_dir/$e2e_name"
    timeout_seconds=${ZARN_E2E_TIMEOUT:-300}
    failures=()
    timings=()
    e2e_env=()
}

# e2e_prepare FILE...: stops the script unless every FILE of the build is there, then empties out.
e2e_prepare() {
    local file
    for file in "$@"; do
        if [[ ! -f $file ]]; then
            echo "$e2e_name: $file is missing (build the windows preset first)" >&2
            exit 1
        fi
    done
    rm -rf "$out"
    mkdir -p "$out"
}

# e2e_wine DIR PROGRAM [ARGS...]: runs the program under Wine and Xvfb in DIR, Wine's output in
# DIR/wine.log; the status is the program's, 124 when it ran out of time. xvfb-run -a takes a free
# display number; the screen is larger than the 1280x720 client area plus the window's frame.
e2e_wine() {
    local dir=$1
    shift
    (cd "$dir" && timeout --kill-after=15 $((timeout_seconds + 60)) \
        xvfb-run -a -s "-screen 0 1600x1000x24" \
        env "${e2e_env[@]}" ZARN_WINE_TIMEOUT="$timeout_seconds" "$script_dir/wine-run.sh" "$@" \
        >wine.log 2>&1)
}

# e2e_run NAME WORLDS PROGRAM [ARGS...]: runs a copy of the program in out/NAME, with a copy of the
# build's Worlds folder beside it when WORLDS is yes, and keeps the run's wall time.
e2e_run() {
    local name=$1 worlds=$2 exe=$3 dir="$out/$1" start status
    shift 3
    mkdir -p "$dir"
    cp "$exe" "$dir/"
    if [[ $worlds == yes && -d $build_dir/Worlds ]]; then
        cp -r "$build_dir/Worlds" "$dir/"
    fi
    start=$EPOCHREALTIME
    e2e_wine "$dir" "./$(basename "$exe")" "$@"
    status=$?
    timings+=("$(printf '%-18s %6.1f s' "$name" "$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')")")
    return "$status"
}

# e2e_ran NAME STATUS PROGRAM [EXPECTED]: notes a run of the program in out/NAME that ran out of
# time, exited otherwise than with EXPECTED (0) or left a zarn-error.log.
e2e_ran() {
    local name=$1 status=$2 exe=$3 expected=${4:-0} log="$out/$1/zarn-error.log"
    if ((status == 124)); then
        failures+=("$name: $exe did not finish within $timeout_seconds s")
    elif ((status != expected)); then
        failures+=("$name: $exe exited with $status${4:+, not $expected}")
    fi
    if [[ -e $log ]]; then
        failures+=("$name: zarn-error.log: $(head -c 500 "$log")")
    fi
}

# value FILE NAME: the value of the report's line NAME=
value() {
    tr -d '\r' <"$1" | awk -F= -v name="$2" '$1 == name { print substr($0, length(name) + 2); exit }'
}

# e2e_last_line FILE: the file's last line without its carriage return.
e2e_last_line() {
    tail -n 1 "$1" | tr -d '\r'
}

# e2e_report NAME FILE: shows the run's report on one line, or notes that there is none (false then).
e2e_report() {
    local name=$1 report=$2
    if [[ ! -f $report ]]; then
        failures+=("$name: no report $(basename "$report")")
        return 1
    fi
    tr -d '\r' <"$report" | paste -sd ' ' | sed 's/^/  report: /'
}

# e2e_rendered NAME FILE FRAMES: the report counts FRAMES frames and ends in D3D11_RENDER_OK.
e2e_rendered() {
    local name=$1 report=$2 frames=$3
    [[ $(value "$report" frames) == "$frames" ]] ||
        failures+=("$name: frames=$(value "$report" frames), not $frames")
    [[ $(e2e_last_line "$report") == D3D11_RENDER_OK ]] ||
        failures+=("$name: the report does not end in D3D11_RENDER_OK")
}

# e2e_game_run NAME WORLDS FRAMES [ARGS...]: zarn.exe ARGS in out/NAME as e2e_run runs it, checked
# as e2e_ran and e2e_rendered check a run of FRAMES frames. False when there is no report to check
# further.
e2e_game_run() {
    local name=$1 worlds=$2 frames=$3 status
    shift 3
    e2e_run "$name" "$worlds" "$program" "$@"
    status=$?
    e2e_ran "$name" "$status" zarn.exe
    e2e_report "$name" "$out/$name/zarn-smoke.txt" || return 1
    e2e_rendered "$name" "$out/$name/zarn-smoke.txt" "$frames"
}

# e2e_ppm_header FILE: the file starts with the header of a 1280x720 binary PPM.
e2e_ppm_header() {
    [[ $(head -c 16 "$1" | od -An -c | tr -s ' ') == " P 6 \n 1 2 8 0 7 2 0 \n 2 5 5 \n" ]]
}

# e2e_ppm_ok FILE: the file is there and is a 1280x720 binary PPM, header and size.
e2e_ppm_ok() {
    [[ -f $1 ]] && (($(stat -c %s "$1") == ppm_size)) && e2e_ppm_header "$1"
}

# e2e_pixel_rows FILE: the picture's rows from the top, one a line, as the bytes of their pixels.
e2e_pixel_rows() {
    tail -c +17 "$1" | od -An -v -tu1 -w3840
}

# e2e_sampled_colours FILE: the number of distinct colours in every 97th row of the picture.
e2e_sampled_colours() {
    e2e_pixel_rows "$1" | awk 'NR % 97 == 1' | tr -s ' ' '\n' | awk 'NF' | paste - - - | sort -u | wc -l
}

# e2e_district_buildings: the buildings of the district, the lines of its table that are not
# comments.
e2e_district_buildings() {
    grep -v '^#' "$source_dir/tools/mapgen/lujiazui.tsv" | grep -c .
}

# e2e_show_timings: the wall time of each run, and where the artefacts are.
e2e_show_timings() {
    echo "$e2e_name: wall time of each run under Wine (artefacts in $out)"
    printf '  %s\n' "${timings[@]}"
}

# e2e_failed: prints the failures noted, if any; true when there were some.
e2e_failed() {
    ((${#failures[@]} > 0)) || return 1
    printf '%s\n' "${failures[@]/#/$e2e_name: FAILED: }" >&2
}

# e2e_finish [NOTE]: ends the script, with status 1 after the failures noted, else with "ok".
# shellcheck disable=SC2120 # the note is for the scripts that have one
e2e_finish() {
    if e2e_failed; then
        exit 1
    fi
    echo "$e2e_name: ok${1:-}"
}
