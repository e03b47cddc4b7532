# Sourced by every script that runs a Windows program of this project under Wine. It gives each
# wine command the same prefix, display and quiet settings: wine commands that share a wineserver
# must agree on DISPLAY, or window creation fails with error 1400.
#
# Inputs (environment): VKT5_WINEPREFIX (default ~/.vkt5-wine), VKT5_WINE_DISPLAY (display
# number, default 61).

export WINEPREFIX="${VKT5_WINEPREFIX:-${HOME:-/root}/.vkt5-wine}"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=":${VKT5_WINE_DISPLAY:-61}"

# Bumped whenever the settings below change, so that an older prefix gets them again.
VKT5_PREFIX_SETTINGS=1

# The prefix's registry settings:
# - every port from COM1 to COM49 hidden, so that Wine's own mapping of the machine's serial
#   devices (which puts /dev/ttyS0, the console, on COM1) never lands in the range the program
#   scans; the tests map single ports to pseudo-terminals with links in dosdevices;
# - windows not handed to a window manager: without one, closing a managed window takes 2 s.
vkt5_prefix_registry() {
    printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
    local n
    for n in $(seq 1 49); do
        printf '"COM%d"=""\n' "$n"
    done
    printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n\n'
}

# Creates the prefix once (about 10 s) and applies the settings; later calls cost nothing.
# Serialised by a lock so that tests started together do not build it twice.
vkt5_prepare_prefix() {
    local marker="$WINEPREFIX/.vkt5-settings"
    if [ -f "$marker" ] && [ "$(cat "$marker")" = "$VKT5_PREFIX_SETTINGS" ]; then
        return 0
    fi
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ -f "$marker" ] && [ "$(cat "$marker")" = "$VKT5_PREFIX_SETTINGS" ]; then
            exit 0
        fi
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            echo "creating the Wine prefix $WINEPREFIX" >&2
            wineboot -i >/dev/null 2>&1 || exit 1
        fi
        local reg
        reg="$(mktemp --suffix=.reg)"
        vkt5_prefix_registry >"$reg"
        wine regedit /S "$(winepath -w "$reg" 2>/dev/null || echo "$reg")" >/dev/null 2>&1
        local status=$?
        rm -f "$reg"
        [ $status -eq 0 ] || exit 1
        wineserver -w
        # Links that Wine made for the machine's own serial devices before the ports were hidden.
        local link
        for link in "$WINEPREFIX"/dosdevices/com*; do
            [ -L "$link" ] || continue
            case "$(readlink "$link")" in
                /dev/ttyS* | /dev/ttyUSB* | /dev/ttyACM*) rm -f "$link" ;;
            esac
        done
        echo "$VKT5_PREFIX_SETTINGS" >"$marker"
    ) 9>"$WINEPREFIX.lock"
}

# Maps COMn of the prefix to a device path (a pseudo-terminal), or removes the mapping.
vkt5_map_port() {
    ln -sfn "$2" "$WINEPREFIX/dosdevices/com$1"
}
vkt5_unmap_port() {
    rm -f "$WINEPREFIX/dosdevices/com$1"
}
