#!/bin/bash
# Creates and configures the Wine prefix named by $WINEPREFIX (of the bitness $WINEARCH names, with
# that bitness's loader first on PATH: see tavo_wine_env in arch.sh) once; later calls return at once.
# A lock keeps parallel test runs from doing it twice.
set -u
[ -f "$WINEPREFIX/.tavo-ready" ] && [ -f "$WINEPREFIX/.tavo-config2" ] && exit 0
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
[ -f "$WINEPREFIX/.tavo-ready" ] && [ -f "$WINEPREFIX/.tavo-config2" ] && exit 0
export WINEARCH=${WINEARCH:-win32} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.tavo-ready" ]; then
    DISPLAY= wineboot -i >/dev/null 2>&1
    wineserver -w
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine-prefix: could not create $WINEPREFIX" >&2
        exit 1
    fi
    touch "$WINEPREFIX/.tavo-ready"
fi

if [ ! -f "$WINEPREFIX/.tavo-config2" ]; then
    # A crashing test must end at once with its report, not wait in an automatic debugger.
    DISPLAY= wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1
    # No window manager runs on the test display: unmanaged windows close at once instead of
    # Wine waiting about 2 s for a manager to answer.
    DISPLAY= wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    # Japanese text: menus draw through Wine's font links to "MS UI Gothic", the dialogs ask for
    # "ＭＳ Ｐゴシック"; IPA (P) Gothic from fonts-ipafont-gothic stands in for both, and the system
    # fonts of menus, tabs and buttons fall back to it for the glyphs they lack, as on a Japanese Windows.
    DISPLAY= wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' /t REG_SZ /d IPAGothic /f >/dev/null 2>&1
    reg=$(mktemp --suffix=.reg)
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n"ＭＳ Ｐゴシック"="IPAPGothic"\r\n' |
        iconv -f UTF-8 -t UTF-16 >"$reg"
    DISPLAY= wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1
    for font in Tahoma "Microsoft Sans Serif"; do
        DISPLAY= wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
            /v "$font" /t REG_MULTI_SZ /d 'ipagp.ttf,IPAPGothic' /f >/dev/null 2>&1
    done
    wineserver -w
    rm -f "$reg"
    touch "$WINEPREFIX/.tavo-config2"
fi
