# Installs the Debian packages given, those that are missing, without recommended extras.
# Sourced by the project's scripts; safe to call many times.
ensure_packages() {
    missing=""
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing="$missing $p"
    done
    [ -z "$missing" ] && return 0
    echo "Installing:$missing"
    if [ "$(id -u)" != 0 ]; then
        echo "Missing Debian packages:$missing (run as root, or install them first)" >&2
        return 1
    fi
    if [ -z "${VKT5_APT_UPDATED:-}" ]; then
        apt-get update -qq >/dev/null || return 1
        VKT5_APT_UPDATED=1
    fi
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
}

# What building and running the Linux program needs.
LINUX_BUILD_PACKAGES="cmake ninja-build g++ dpkg-dev googletest qt6-base-dev qt6-base-dev-tools libgl-dev fonts-liberation fontconfig"
# What running it on a virtual display and clicking through it needs.
DISPLAY_PACKAGES="xvfb xauth openbox xdotool x11-utils imagemagick util-linux"
# What the tests need besides: strace watches that skipped ports are never written to; the
# command line's tests give it a terminal with script (bsdutils), run it as another user with
# runuser (util-linux) and compare its trace with python3.
TEST_PACKAGES="strace bsdutils python3"
