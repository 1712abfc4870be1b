#!/usr/bin/env bash
# Makes the links the hand-off tests need, from the Unix side: Wine follows a Unix symbolic link
# and shows it as a directory reparse point, while CreateSymbolicLinkW under Wine makes nothing.
#   temp-linked/VortelixExcel -> outside        a work folder that is itself a link
#   temp-inner/VortelixExcel/link -> outside-inner   a link inside a real work folder
set -euo pipefail
dir="$1"
rm -rf "$dir"   # removes links, never what they point to
mkdir -p "$dir/outside" "$dir/outside-inner" "$dir/temp-linked" "$dir/temp-inner/VortelixExcel"
ln -s "$dir/outside" "$dir/temp-linked/VortelixExcel"
ln -s "$dir/outside-inner" "$dir/temp-inner/VortelixExcel/link"
test -d "$dir/temp-linked/VortelixExcel" && test -L "$dir/temp-linked/VortelixExcel"
test -d "$dir/temp-inner/VortelixExcel/link" && test -L "$dir/temp-inner/VortelixExcel/link"
