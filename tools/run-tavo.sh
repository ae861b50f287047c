#!/bin/bash
# Installs what is missing, builds, and starts tavo.exe under Wine.
# Its data files (ini.dat, paste.dat) live beside the executable in build/bin.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVO_BUILD_DIR:-$root/build}
"$root/tools/install-deps.sh"
TAVO_BUILD_DIR=$build "$root/tools/build.sh"

export WINEPREFIX=$build/wineprefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$root/tools/wine-prefix.sh"
if [ -z "$DISPLAY" ]; then
    n=$(for n in $(seq 90 140); do [ -e /tmp/.X11-unix/X$n ] || { echo $n; break; }; done)
    Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    export DISPLAY=:$n
    sleep 1
    echo "run-tavo: no display found; running on the Xvfb display $DISPLAY (screenshots: import -window root -display $DISPLAY shot.png)"
fi
echo "run-tavo: starting $build/bin/tavo.exe; its icon sits in the notification area"
cd "$build/bin"
exec wine tavo.exe
