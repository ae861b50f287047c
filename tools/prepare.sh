# Sourced by run-tests.sh and run-tavo.sh: installs what is missing, builds, readies the Wine
# prefix, and gives a private Xvfb display when there is none. Sets root, build, xvfb_pid.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TAVO_BUILD_DIR:-$root/build}
"$root/tools/install-deps.sh"
TAVO_BUILD_DIR=$build "$root/tools/build.sh"

export WINEPREFIX=$build/wineprefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$root/tools/wine-prefix.sh"

xvfb_pid=
# Starts Xvfb on the first free display from :90 on and exports DISPLAY; returns when it is up.
start_private_display() {
    for n in $(seq 90 140); do
        [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
        Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        xvfb_pid=$!
        export DISPLAY=:$n
        break
    done
    for _ in $(seq 50); do [ -e /tmp/.X11-unix/X${DISPLAY#:} ] && break; sleep 0.1; done
}
