#!/bin/bash
# Test: the x86 and the x64 build write the same bytes into ini.dat and paste.dat, and each reads
# what the other wrote.   usage: data-interchange.sh BUILD_TREE PEER_BUILD_TREE
set -u
own=$1 peer=$2
for tree in "$own" "$peer"; do
    [ -x "$tree/winerun" ] && [ -f "$tree/bin/data_interchange.exe" ] ||
        { echo "data-interchange: $tree has no data_interchange.exe; build it first"; exit 1; }
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/own" "$scratch/peer"
windows_path() { echo "Z:${1//\//\\}"; }
failures=0
run() {  # tree verb folder
    "$1/winerun" "$1/bin/data_interchange.exe" "$2" "$(windows_path "$3")" || failures=$((failures + 1))
}
run "$own" write "$scratch/own"
run "$peer" write "$scratch/peer"
for file in ini.dat paste.dat; do
    if ! cmp "$scratch/own/$file" "$scratch/peer/$file"; then
        echo "data-interchange: $file differs between the builds"
        failures=$((failures + 1))
    fi
done
run "$own" read "$scratch/peer"
run "$peer" read "$scratch/own"
echo "data-interchange: $failures failure(s)"
[ "$failures" -eq 0 ]
