#!/bin/bash
# Creates the Wine prefix named by $WINEPREFIX once; later calls return at once.
# A lock keeps parallel test runs from creating it twice.
set -u
[ -f "$WINEPREFIX/.tavo-ready" ] && exit 0
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
[ -f "$WINEPREFIX/.tavo-ready" ] && exit 0
WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= wineboot -i >/dev/null 2>&1
WINEDEBUG=-all wineserver -w
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-prefix: could not create $WINEPREFIX" >&2
    exit 1
fi
touch "$WINEPREFIX/.tavo-ready"
