#!/bin/bash
# Configures and builds one architecture (x86 or x64, default x86) into build/<arch>, or into
# $TAVO_BUILD_DIR, with the MinGW-w64 cross compiler of that architecture.
#   TAVO_PEER_BUILD: the other architecture's build tree, for the test that reads each one's files
#   with the other.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-x86}
build=${TAVO_BUILD_DIR:-$root/build/$arch}
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
      -DTAVO_PEER_BUILD="${TAVO_PEER_BUILD:-}" >/dev/null
cmake --build "$build" -j"$(nproc)"
