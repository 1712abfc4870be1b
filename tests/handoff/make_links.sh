#!/usr/bin/env bash
# Makes the links the hand-off tests need, from the Unix side: Wine follows a Unix symbolic link
# and shows it as a directory reparse point, while CreateSymbolicLinkW under Wine makes nothing.
#   temp-linked/VortelixExcel -> outside        a work folder that is itself a link
#   temp-inner/VortelixExcel/link -> outside-inner   a link inside a real work folder
#   temp-foreign/VortelixExcel              a work folder another user made (owner uid 65534)
#   temp-foreign-inner/VortelixExcel/theirs another user's folder inside a work folder of ours
# Only root can give a folder to another user; elsewhere the marker file no-foreign-owner says
# so, and the tests that need such a folder are skipped.
set -euo pipefail
dir="$1"
rm -rf "$dir"   # removes links, never what they point to
mkdir -p "$dir/outside" "$dir/outside-inner" "$dir/temp-linked" "$dir/temp-inner/VortelixExcel"
ln -s "$dir/outside" "$dir/temp-linked/VortelixExcel"
ln -s "$dir/outside-inner" "$dir/temp-inner/VortelixExcel/link"
test -d "$dir/temp-linked/VortelixExcel" && test -L "$dir/temp-linked/VortelixExcel"
test -d "$dir/temp-inner/VortelixExcel/link" && test -L "$dir/temp-inner/VortelixExcel/link"
mkdir -p "$dir/temp-foreign/VortelixExcel" "$dir/temp-foreign-inner/VortelixExcel/theirs"
echo theirs > "$dir/temp-foreign/VortelixExcel/theirs.txt"
echo theirs > "$dir/temp-foreign-inner/VortelixExcel/theirs/theirs.txt"
if ! chown -R 65534 "$dir/temp-foreign/VortelixExcel" "$dir/temp-foreign-inner/VortelixExcel/theirs" 2>/dev/null; then
  echo "make_links.sh: not root, so no folder of another user: the tests that need one are skipped" >&2
  touch "$dir/no-foreign-owner"
fi
