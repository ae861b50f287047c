#!/bin/bash
# Installs what is missing, builds, and runs every test under Wine on an Xvfb display.
set -e
source "$(dirname "$0")/prepare.sh"

cleanup() {
    wineserver -k 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
if [ -z "$DISPLAY" ]; then
    start_private_display
    echo "run-tests: no display, using Xvfb on $DISPLAY"
fi
wineserver -p  # one server for the whole run instead of one per test

cd "$build"
ctest --output-on-failure -j2 "$@"
