#!/usr/bin/env bash
# Builds the Windows program with MinGW-w64 and runs its tests under Wine: the core's tests built
# for Windows, the Win32 serial back-end on ptys mapped as COM ports, the dialog host in-process,
# and the whole program against the unit simulator on the tests' own virtual display.
#
# Installs the Debian packages it needs. The simulator is a Linux program: VKT5_SIM names it, or
# it is built here with the dev preset. VKT5_WINEPREFIX names the Wine prefix (default
# ~/.vkt5-wine; made once, about 10 s, then reused); VKT5_WINE_DISPLAY the display number of the
# tests' Xvfb (default: the first free one from 61). Exits non-zero when anything fails.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib/packages.sh"
cd "$root" || exit 1

# wine64 alone runs the 64-bit program; no i386 architecture is needed.
WINDOWS_PACKAGES="cmake ninja-build googletest g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 xvfb xdotool x11-utils imagemagick socat util-linux"
ensure_packages $WINDOWS_PACKAGES || exit 1

sim=${VKT5_SIM:-}
if [ -z "$sim" ]; then
    echo "Building the unit simulator (dev preset) ..."
    cmake --preset dev >/dev/null && cmake --build --preset dev --target vkt5-unit-sim -- -j2 ||
        exit 1
    sim=$root/build/dev/tools/unit_sim/vkt5-unit-sim
fi
if [ ! -x "$sim" ]; then
    echo "no unit simulator at $sim" >&2
    exit 1
fi
export VKT5_SIM=$sim
export VKT5_WINEPREFIX=${VKT5_WINEPREFIX:-${HOME:-/root}/.vkt5-wine}
if [ -z "${VKT5_WINE_DISPLAY:-}" ]; then
    n=61
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    export VKT5_WINE_DISPLAY=$n
fi

echo "Building the Windows program ..."
cmake --preset windows -DVKT5_SIM="$sim" -DVKT5_WINEPREFIX="$VKT5_WINEPREFIX" \
    -DVKT5_WINE_DISPLAY="$VKT5_WINE_DISPLAY" >/dev/null &&
    cmake --build --preset windows -- -j2 || exit 1

# The program is linked statically: it may import nothing but the system's own DLLs.
exe=build/windows/vkt5-upgrade.exe
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r')
foreign=$(echo "$imports" | grep -viE '^(kernel32|user32|gdi32|comctl32|msvcrt|advapi32|shell32|ole32|ws2_32)\.dll$')
echo "$exe imports: $(echo $imports)"
if [ -n "$foreign" ]; then
    echo "the program needs DLLs that Windows does not have: $foreign" >&2
    exit 1
fi

# Test discovery runs each test program under Wine before any test, with a 5 s limit: the prefix
# must exist by then.
bash -c '. tests/windows/wine_env.sh && vkt5_prepare_prefix && wineserver -w' || {
    echo "cannot prepare the Wine prefix $VKT5_WINEPREFIX" >&2
    exit 1
}

ctest --test-dir build/windows --output-on-failure -j2
