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

# Japanese text: the dialogs' "ＭＳ Ｐゴシック" maps to IPA P Gothic, and the system fonts of
# menus, tabs and buttons fall back to it for the glyphs they lack (as on a Japanese Windows).
if [ ! -f "$WINEPREFIX/.tavo-fonts" ]; then
    reg=$(mktemp --suffix=.reg)
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n"ＭＳ Ｐゴシック"="IPAPGothic"\r\n' |
        iconv -f UTF-8 -t UTF-16 >"$reg"
    export WINEDEBUG=-all
    DISPLAY= wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1
    for font in Tahoma "Microsoft Sans Serif"; do
        DISPLAY= wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
            /v "$font" /t REG_MULTI_SZ /d 'ipagp.ttf,IPAPGothic' /f >/dev/null 2>&1
    done
    wineserver -w
    rm -f "$reg"
    touch "$WINEPREFIX/.tavo-fonts"
fi
