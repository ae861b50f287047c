#!/bin/bash
# Builds both architectures and makes the release archives in dist/:
# tavo-<version>-win32.zip and tavo-<version>-win64.zip (tavo.exe, tavohook.dll, README.txt).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
for arch in x86 x64; do
    "$root/tools/build.sh" "$arch"
    cmake --build "$root/build/$arch" --target release
done
ls -l "$root/dist"
