#!/usr/bin/env bash
# Builds the add-in's Windows Installer package for one Office bitness with wixl (msitools).
#   build-msi.sh x86|x64 <version> <VORTELIXExcel.dll> <Dravenport.exe> <output.msi>
# wixl takes file sources relative to the folder it runs in, so the two files are staged next to
# each other first, under the names they are installed with.
set -euo pipefail
arch="$1" version="$2" dll="$3" uploader="$4" out="$5"
case "$arch" in x86|x64) ;; *) echo "build-msi.sh: arch must be x86 or x64, not '$arch'" >&2; exit 2 ;; esac
here="$(cd "$(dirname "$0")" && pwd)"
out="$(cd "$(dirname "$out")" && pwd)/$(basename "$out")"

# A rebuild of the installed version replaces it as an older version would: the package replaces
# every version below the next build number.
IFS=. read -r major minor build <<<"$version"
upgrade_below="$major.$minor.$((build + 1))"

stage="$(mktemp -d "${out%.msi}.stage.XXXXXX")"
trap 'rm -rf "$stage"' EXIT
cp "$dll" "$stage/VORTELIXExcel.dll"
cp "$uploader" "$stage/Dravenport.exe"
rm -f "$out"
(cd "$stage" && wixl -a "$arch" -D Arch="$arch" -D Version="$version" -D UpgradeBelow="$upgrade_below" -o "$stage/package.msi" "$here/VORTELIXExcel.wxs")

# Component conditions, which wixl cannot write: COM gets the server path in the form the DLL's
# own registration writes, short when the install folder has a blank, long otherwise.
msibuild "$stage/package.msi" -q "UPDATE \`Component\` SET \`Condition\` = 'INSTALLDIR >< \" \"' WHERE \`Component\` = 'ServerPathShort'"
msibuild "$stage/package.msi" -q "UPDATE \`Component\` SET \`Condition\` = 'NOT (INSTALLDIR >< \" \")' WHERE \`Component\` = 'ServerPathLong'"

# The install folder is a secure property: a per-machine install takes it from the command line
# also where Windows Installer restricts public properties.
secure="$(msiinfo export "$stage/package.msi" Property | awk -F'\t' '$1 == "SecureCustomProperties" { print $2 }')"
msibuild "$stage/package.msi" -q "UPDATE \`Property\` SET \`Value\` = '${secure:+$secure;}INSTALLDIR' WHERE \`Property\` = 'SecureCustomProperties'"

# A package that self-registers or runs code of its own would defeat the point of the tables.
for table in SelfReg CustomAction; do
  if msiinfo export "$stage/package.msi" "$table" 2>/dev/null | sed -n '4,$p' | grep -q .; then
    echo "build-msi.sh: the package has $table rows" >&2
    exit 1
  fi
done
mv "$stage/package.msi" "$out"
