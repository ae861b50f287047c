#!/bin/bash
# Installs what building and testing tavo needs on Debian 12; installs nothing that is already there.
# Run as root (or through sudo). Both cross compilers and both Wine loaders: the i386 packages
# install on every x86-64 machine, even where its kernel cannot execute them (then only wine64 runs).
set -e
SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
packages="cmake make python3 g++-mingw-w64-i686 gcc-mingw-w64-i686 binutils-mingw-w64-i686
          g++-mingw-w64-x86-64 gcc-mingw-w64-x86-64 binutils-mingw-w64-x86-64
          wine wine32 wine64 xvfb xauth x11-utils imagemagick fonts-ipafont-gothic doctest-dev"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    updated=
else
    updated=yes
fi
missing=
for p in $packages; do
    dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ] || [ -z "$updated" ]; then
    $SUDO apt-get update -qq
fi
if [ -n "$missing" ]; then
    echo "install-deps: installing$missing"
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
