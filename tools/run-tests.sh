#!/bin/bash
# Installs what is missing, builds both architectures, and runs every test under Wine on an Xvfb
# display for each architecture this machine can execute: x86 and x64 where it runs 32-bit code,
# x64 alone where it cannot (there the x86 build still gets its host-side binary checks).
# TAVO_ARCH=x86 or x64 builds and tests that one only. Arguments go to ctest.
set -e
source "$(dirname "$0")/prepare.sh"

arches=$(tavo_test_arches)
if [ -n "${TAVO_ARCH:-}" ]; then built=$TAVO_ARCH; else built="x86 x64"; fi
echo "run-tests: building $built; running the Wine suites of: $arches"
for arch in $built; do
    peer=
    # The x64 tree's interchange test reads and writes data files with the x86 build as well.
    [ "$arch" = x64 ] && [[ " $arches " == *" x86 "* ]] && peer=$root/build/x86
    TAVO_PEER_BUILD=$peer "$root/tools/build.sh" "$arch"
done

cleanup() {
    for arch in $arches; do (tavo_wine_env "$arch" "$root/build/$arch"; wineserver -k 2>/dev/null) || true; done
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
if [ -z "$DISPLAY" ]; then
    start_private_display
    echo "run-tests: no display, using Xvfb on $DISPLAY"
fi

summary=
failed=0
for arch in $built; do
    if [[ " $arches " == *" $arch "* ]]; then
        echo "run-tests: the $arch suite"
        prepare_wine "$arch"
        wineserver -p  # one server for the whole suite instead of one per test
        status=0
        (cd "$root/build/$arch" && ctest --output-on-failure -j2 "$@") || status=$?
        wineserver -k 2>/dev/null || true
    else
        echo "run-tests: this machine cannot execute 32-bit code; the $arch build gets its host-side checks only"
        status=0
        (cd "$root/build/$arch" && ctest --output-on-failure -L host "$@") || status=$?
    fi
    if [ "$status" -eq 0 ]; then summary="$summary $arch:passed"; else summary="$summary $arch:FAILED"; failed=1; fi
done
echo "run-tests:$summary"
exit $failed
