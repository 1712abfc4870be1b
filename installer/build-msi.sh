#!/usr/bin/env bash
# Builds one of the add-in's Windows Installer packages with wixl (msitools):
#   build-msi.sh --arch x86|x64 --scope machine|user --version 1.0.55 --dll VORTELIXExcel.dll
#                --excel-check ExcelCheck.dll --health-check VORTELIXExcelCheck.exe --uploader Dravenport.exe
#                --out package.msi [--test-build]
#                [--help-link URL] [--contact TEXT]
# --test-build marks a package whose uploader is the stand-in (or whose version is not the DLL's,
# as the upgrade tests need): its product name says so. Without it the package's version must be
# the DLL's file version, so that a release's ProductVersion and its DLL cannot drift apart.
# The binaries come signed (CMake signs them before packing); the package is signed here after
# building when QVR_SIGN_PFX names a certificate (installer/sign.sh); otherwise it stays unsigned.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
arch="" scope="machine" version="" dll="" excel_check="" health_check="" uploader="" out="" test_build=no
help_link="" contact=""
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch="$2"; shift 2 ;;
    --scope) scope="$2"; shift 2 ;;
    --version) version="$2"; shift 2 ;;
    --dll) dll="$2"; shift 2 ;;
    --excel-check) excel_check="$2"; shift 2 ;;
    --health-check) health_check="$2"; shift 2 ;;
    --uploader) uploader="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --test-build) test_build=yes; shift ;;
    --help-link) help_link="$2"; shift 2 ;;
    --contact) contact="$2"; shift 2 ;;
    *) echo "build-msi.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
fail() { echo "build-msi.sh: $*" >&2; exit 1; }
case "$arch" in x86|x64) ;; *) fail "--arch must be x86 or x64, not '$arch'" ;; esac
case "$scope" in machine|user) ;; *) fail "--scope must be machine or user, not '$scope'" ;; esac
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version must be major.minor.build, not '$version'"
[ -f "$dll" ] || fail "no DLL at '$dll'"
[ -f "$excel_check" ] || fail "no custom action DLL at '$excel_check'"
[ -f "$health_check" ] || fail "no health check at '$health_check'"
[ -f "$uploader" ] || fail "no uploader at '$uploader'"
[ -n "$out" ] || fail "no --out"
out="$(cd "$(dirname "$out")" && pwd)/$(basename "$out")"

# The release gate. A package without --test-build is a release: its uploader is the real one
# (a program whose version resource calls it a stand-in is refused), and it is signed with a
# time stamp (QVR_SIGN_PFX and QVR_SIGN_TIMESTAMP_URL), unless QVR_ALLOW_UNSIGNED_RELEASE=1 says
# an unsigned one is wanted (a pilot, a company that signs packages itself).
if [ "$test_build" = no ]; then
  # Read whole before it is searched: grep -q leaving a pipe early would fail the reader, and
  # with pipefail the gate would open.
  uploader_strings="$(python3 "$here/pe-version.py" --strings "$uploader" 2>/dev/null || true)"
  if grep -qi "stand-in" <<<"$uploader_strings"; then
    fail "the uploader $uploader is the stand-in (its version resource says so), not the real Dravenport.exe: a release cannot carry it. Set QVR_UPLOADER_EXE to the real uploader"
  fi
  if [ "${QVR_ALLOW_UNSIGNED_RELEASE:-0}" != 1 ] && { [ -z "${QVR_SIGN_PFX:-}" ] || [ -z "${QVR_SIGN_TIMESTAMP_URL:-}" ]; }; then
    fail "a release package is signed with a time stamp: set QVR_SIGN_PFX and QVR_SIGN_TIMESTAMP_URL, or QVR_ALLOW_UNSIGNED_RELEASE=1 when an unsigned release is wanted"
  fi
fi

dll_version="$(python3 "$here/pe-version.py" "$dll" | cut -d' ' -f1)"
if [ "$test_build" = no ] && [ "$dll_version" != "$version.0" ]; then
  fail "the package version $version is not the DLL's file version $dll_version"
fi

# A rebuild of the installed version replaces it as an older version would: the package replaces
# every version below the next build number.
IFS=. read -r major minor build <<<"$version"
upgrade_below="$major.$minor.$((build + 1))"

# The per-machine package of this release, which the per-user one names when it refuses SYSTEM.
if [ "$test_build" = yes ]; then machine_package="VORTELIXExcel-TEST-$version-$arch.msi"; else machine_package="VORTELIXExcel-$version-$arch.msi"; fi

stage="$(mktemp -d "${out%.msi}.stage.XXXXXX")"
trap 'rm -rf "$stage"' EXIT
cp "$dll" "$stage/VORTELIXExcel.dll"
cp "$excel_check" "$stage/ExcelCheck.dll"
cp "$uploader" "$stage/Dravenport.exe"
cp "$health_check" "$stage/VORTELIXExcelCheck.exe"
# The Add/Remove Programs icon: the ribbon button's picture, as an icon file holding one PNG.
python3 "$here/../src/addin/art/make_imagelist.py" --png "$stage/mark.png" >/dev/null
python3 - "$stage/mark.png" "$stage/VORTELIXExcel.ico" <<'PY'
import struct, sys
png = open(sys.argv[1], "rb").read()
width, height = struct.unpack(">II", png[16:24])
with open(sys.argv[2], "wb") as f:
    f.write(struct.pack("<HHH", 0, 1, 1))
    f.write(struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(png), 6 + 16))
    f.write(png)
PY
rm -f "$stage"/mark*.png

rm -f "$out"
(cd "$stage" && wixl -a "$arch" -D Arch="$arch" -D Scope="$scope" -D Version="$version" \
   -D UpgradeBelow="$upgrade_below" -D TestBuild="$test_build" -D MachinePackageName="$machine_package" \
   -D HelpLink="${help_link:-https://www.vortelix.com/support}" -D Contact="${contact:-VORTELIX service desk}" \
   -o "$stage/package.msi" "$here/VORTELIXExcel.wxs")
python3 "$here/finish-msi.py" "$stage/package.msi" "$stage" "$scope"
bash "$here/sign.sh" "$stage/package.msi" "$out"
