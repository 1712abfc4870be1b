#!/bin/sh
# Reads what the picture tests and the stand-in wrote with ImageMagick, a reader that shares no
# code with the add-in or the stand-in:
#   - the ICO that Office 2016 got for the add-in's button holds, pixel for pixel, what the
#     add-in's image list holds (addin-button.rgba);
#   - the stand-in's PNG files decode: the button picture to those same pixels, the drawn tab to
#     the pixels the stand-in drew, and the main job's tab picture is a PNG of its stated size.
#   check_files.sh <files folder>
set -u
files="$1"
if ! command -v convert >/dev/null 2>&1 || ! command -v identify >/dev/null 2>&1; then
  echo "ImageMagick is not installed: the files cannot be checked"
  exit 77
fi
failed=0
fail() { echo "FAILED: $*"; failed=1; }
same_pixels() {  # <image> <raw rgba file>
  if ! convert "$1" -depth 8 rgba:- 2>/dev/null | cmp -s - "$2"; then fail "$1 does not decode to the pixels of $2"; fi
}

[ "$(identify -format '%m %wx%h' "$files/addin-button.ico" 2>&1)" = "ICO 48x48" ] ||
  fail "addin-button.ico is not a 48 x 48 icon: $(identify "$files/addin-button.ico" 2>&1)"
same_pixels "$files/addin-button.ico" "$files/addin-button.rgba"
same_pixels "$files/addin-button.png" "$files/addin-button.rgba"

drawn=$(ls "$files"/drawn-tab-*.rgba 2>/dev/null | head -n 1)
if [ -z "$drawn" ]; then
  fail "the tests drew no tab"
else
  size=$(basename "$drawn" .rgba); size=${size#drawn-tab-}
  [ "$(identify -format '%m %wx%h' "$files/drawn-tab.png" 2>&1)" = "PNG $size" ] || fail "drawn-tab.png is not a $size PNG"
  same_pixels "$files/drawn-tab.png" "$drawn"
fi

for sim in ExcelSim ExcelSim12; do
  tab="$files/$sim-ribbon.png"
  [ -f "$tab" ] || { fail "$sim left no $tab"; continue; }
  identify -regard-warnings "$tab" >/dev/null 2>&1 || fail "$tab is not a readable PNG"
  same_pixels "$files/$sim-ribbon-button.png" "$files/addin-button.rgba"
done

[ $failed -eq 0 ] && echo "all picture files read as expected"
exit $failed
