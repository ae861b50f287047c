#!/bin/bash
# Installs what is missing, builds, and starts tavo.exe under Wine: on $DISPLAY when there is one,
# else on an Xvfb display of its own. The program keeps its data files (ini.dat, paste.dat) beside
# itself in build/bin; without them it starts on the defaults with one registered entry.
# The script returns when the program ends (tray menu "終了(&X)", or Ctrl+C here).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVO_BUILD_DIR:-$root/build}
"$root/tools/install-deps.sh"
TAVO_BUILD_DIR=$build "$root/tools/build.sh"

export WINEPREFIX=$build/wineprefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$root/tools/wine-prefix.sh"

xvfb_pid=
cleanup() {
    if [ -n "$xvfb_pid" ]; then
        wineserver -k 2>/dev/null || true
        kill "$xvfb_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
if [ -z "$DISPLAY" ]; then
    for n in $(seq 90 140); do
        [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
        Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        xvfb_pid=$!
        export DISPLAY=:$n
        break
    done
    for _ in $(seq 50); do [ -e /tmp/.X11-unix/X${DISPLAY#:} ] && break; sleep 0.1; done
    echo "run-tavo: no display found; running on the Xvfb display $DISPLAY"
    echo "run-tavo: a picture of it: import -window root -display $DISPLAY shot.png"
fi
echo "run-tavo: starting $build/bin/tavo.exe; its icon sits in the notification area"
cd "$build/bin"
status=0
wine tavo.exe || status=$?
echo "run-tavo: tavo.exe has ended (exit code $status)"
exit $status
