#!/usr/bin/env bash
# Source rules that no compiler flag checks, over the tracked C++ files:
#   - compiler extensions (__attribute__, __builtin...) only inside a preprocessor block whose
#     condition names the compiler or the platform, so that every compiler builds the rest;
#   - includes run one way between the subsystems, from physics up to the shell:
#     physics, planet, ecology, world, render, app. The Earth engine (planet/EarthEngine.hpp) owns
#     the ecology and is the one file that reaches above its subsystem.
# Prints each offence as FILE:LINE: REASON and exits non-zero when there is one.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1

mapfile -t files < <(git ls-files -- 'src/*.cpp' 'src/*.hpp' 'tests/*.cpp' 'tests/*.hpp' \
    'bench/*.cpp' 'bench/*.hpp' 'fuzz/*.cpp' 'fuzz/*.hpp' 'tools/*.cpp' 'tools/*.hpp')
((${#files[@]} > 0)) || {
    echo "lint: no source files found" >&2
    exit 1
}

awk '
BEGIN {
    split("physics planet ecology world render app", order, " ")
    for (i in order) rank[order[i]] = i
    platform = "__GNUC__|__clang__|_MSC_VER|__SSE2__|_M_X64|_M_AMD64|__x86_64__|__aarch64__|_WIN32|__has_builtin"
}
FNR == 1 {
    depth = 0
    guarded = 0
    split(FILENAME, parts, "/")
    subsystem = parts[1] == "src" ? parts[2] : ""
}
/^[ \t]*#[ \t]*if/ {
    depth++
    guard[depth] = ($0 ~ platform) || (depth > 1 && guard[depth - 1])
}
/^[ \t]*#[ \t]*elif/ { guard[depth] = ($0 ~ platform) || guard[depth] }
/^[ \t]*#[ \t]*endif/ { if (depth > 0) depth-- }
{
    line = $0
    sub(/\/\/.*/, "", line)
    if (line ~ /__attribute__|__builtin/ && !(depth > 0 && guard[depth])) {
        printf "%s:%d: a compiler extension outside a block guarded for its compiler or platform\n", FILENAME, FNR
        bad = 1
    }
    if (subsystem in rank && match(line, /#[ \t]*include[ \t]*"[a-z]+\//)) {
        target = substr(line, RSTART, RLENGTH)
        sub(/.*"/, "", target)
        sub(/\/$/, "", target)
        if (target in rank && rank[target] > rank[subsystem] &&
            !(FILENAME == "src/planet/EarthEngine.hpp" && target == "ecology")) {
            printf "%s:%d: %s includes from %s, above it\n", FILENAME, FNR, subsystem, target
            bad = 1
        }
    }
}
END { exit bad }
' "${files[@]}"
