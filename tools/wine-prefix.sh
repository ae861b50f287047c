#!/bin/bash
# Creates the Wine prefix named by $WINEPREFIX once; later calls return at once.
# A lock keeps parallel test runs from creating it twice.
set -u
[ -f "$WINEPREFIX/.tavo-ready" ] && [ -f "$WINEPREFIX/.tavo-fonts" ] && exit 0
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
[ -f "$WINEPREFIX/.tavo-ready" ] && [ -f "$WINEPREFIX/.tavo-fonts" ] && exit 0
if [ ! -f "$WINEPREFIX/.tavo-ready" ]; then
    WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= wineboot -i >/dev/null 2>&1
    WINEDEBUG=-all wineserver -w
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine-prefix: could not create $WINEPREFIX" >&2
        exit 1
    fi
    touch "$WINEPREFIX/.tavo-ready"
fi
if [ ! -f "$WINEPREFIX/.tavo-fonts" ]; then
    # Menus and dialogs draw Japanese through Wine's font links to "MS UI Gothic"; IPAGothic
    # (fonts-ipafont-gothic) stands in for it, else the texts come out as empty boxes.
    WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= \
        wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' /t REG_SZ /d IPAGothic /f >/dev/null 2>&1
    WINEDEBUG=-all wineserver -w
    touch "$WINEPREFIX/.tavo-fonts"
fi
