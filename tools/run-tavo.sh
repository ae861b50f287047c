#!/bin/bash
# Installs what is missing, builds, and starts tavo.exe under Wine: on $DISPLAY when there is one,
# else on an Xvfb display of its own. It runs the 32-bit build where this machine executes 32-bit
# code and the x64 build where it cannot (TAVO_ARCH=x86 or x64 chooses). The program keeps its data
# files (ini.dat, paste.dat) beside itself in build/<arch>/bin; without them it starts on the
# defaults with one registered entry. The interface is Japanese unless LC_ALL names another
# language (LC_ALL=en_US.UTF-8 for English).
# The script returns when the program ends (tray menu "終了(&X)", or Ctrl+C here).
set -e
source "$(dirname "$0")/prepare.sh"

arch=$(tavo_run_arch)
if [ -n "${TAVO_ARCH:-}" ]; then
    why="chosen by TAVO_ARCH"
elif [ "$arch" = x86 ]; then
    why="this machine executes 32-bit code"
else
    why="this machine cannot execute 32-bit code"
fi
echo "run-tavo: the $arch build ($why)"
"$root/tools/build.sh" "$arch"
prepare_wine "$arch"

cleanup() {
    if [ -n "$xvfb_pid" ]; then
        wineserver -k 2>/dev/null || true
        kill "$xvfb_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
if [ -z "$DISPLAY" ]; then
    start_private_display
    echo "run-tavo: no display found; running on the Xvfb display $DISPLAY"
    echo "run-tavo: a picture of it: import -window root -display $DISPLAY shot.png"
fi
echo "run-tavo: starting $root/build/$arch/bin/tavo.exe; its icon sits in the notification area"
cd "$root/build/$arch/bin"
status=0
env LC_ALL="$(tavo_wine_locale)" wine tavo.exe || status=$?
echo "run-tavo: tavo.exe has ended (exit code $status)"
exit $status
