#!/usr/bin/env bash
# Installs what building, testing and running ZARN needs on Debian 12, and nothing that is
# already there. Quiet when everything is present; safe to run again and again.
set -euo pipefail

# Native build, tests, benchmarks, formatting and fuzzing.
toolchain_packages=(
    g++
    cmake
    ninja-build
    libgtest-dev # its sources in /usr/src/googletest build the Windows copy of the suite
    libbenchmark-dev
    clang-format
    clang             # the fuzz targets: libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer
    libclang-rt-14-dev # libFuzzer's and the sanitizers' run-time libraries for clang
)

# Windows cross-build and running it: mingw-w64 with posix threads, Wine (64-bit loader; Debian's
# `wine` package brings the wrapper and the shared parts), a virtual X display for windowed runs,
# Mesa for Direct3D through Wine, and the font that stands in for "Microsoft YaHei".
windows_packages=(
    g++-mingw-w64-x86-64-posix
    wine
    wine64
    xvfb
    xauth
    libgl1-mesa-dri
    fonts-wqy-microhei
)

missing_from() {
    local package status
    for package in "$@"; do
        status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null || true)
        if [[ $status != ii* ]]; then
            printf '%s\n' "$package"
        fi
    done
}

mapfile -t missing_toolchain < <(missing_from "${toolchain_packages[@]}")
mapfile -t missing_windows < <(missing_from "${windows_packages[@]}")
if ((${#missing_toolchain[@]} == 0 && ${#missing_windows[@]} == 0)); then
    exit 0
fi

sudo=()
if ((EUID != 0)); then
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
apt_get=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -qq -o=Dpkg::Use-Pty=0)

missing=("${missing_toolchain[@]}" "${missing_windows[@]}")
echo "setup: installing ${missing[*]}"
"${apt_get[@]}" update >/dev/null
if ((${#missing_toolchain[@]} > 0)); then
    "${apt_get[@]}" install -y --no-install-recommends "${missing_toolchain[@]}" >/dev/null
fi
if ((${#missing_windows[@]} > 0)); then
    # Wine's recommended libraries (X extensions, OpenGL, Vulkan, fonts) are what windowed runs
    # under Xvfb load at run time, so they come along here.
    "${apt_get[@]}" install -y "${missing_windows[@]}" >/dev/null
fi

mapfile -t still_missing < <(missing_from "${toolchain_packages[@]}" "${windows_packages[@]}")
if ((${#still_missing[@]} > 0)); then
    echo "setup: could not install ${still_missing[*]}" >&2
    exit 1
fi
echo "setup: done"
