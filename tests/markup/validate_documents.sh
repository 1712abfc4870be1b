#!/bin/sh
# Checks every document the markup tests kept against the custom UI schema of its namespace:
# Office 2007's (2006/01) or the one of Office 2010 and later (2009/07). The schemas are the
# libxml2-compilable copies in tests/fixtures/customui.
#   validate_documents.sh <documents folder> <schema folder>
set -u
documents="$1"
schemas="$2"
if ! command -v xmllint >/dev/null 2>&1; then
  echo "xmllint is not installed (package libxml2-utils): the documents cannot be checked"
  exit 77
fi
checked=0
invalid=0
for document in "$documents"/*.xml; do
  [ -e "$document" ] || continue
  if grep -q 'xmlns="http://schemas.microsoft.com/office/2009/07/customui"' "$document"; then
    schema="$schemas/customUI14.libxml2.xsd"
  elif grep -q 'xmlns="http://schemas.microsoft.com/office/2006/01/customui"' "$document"; then
    schema="$schemas/customUI.libxml2.xsd"
  else
    echo "$document: no custom UI namespace"
    invalid=$((invalid + 1))
    checked=$((checked + 1))
    continue
  fi
  if ! xmllint --noout --schema "$schema" "$document" >/dev/null 2>"$document.errors"; then
    echo "$document: not valid against $(basename "$schema")"
    cat "$document.errors"
    invalid=$((invalid + 1))
  fi
  rm -f "$document.errors"
  checked=$((checked + 1))
done
echo "$checked documents checked, $invalid not valid"
[ "$checked" -gt 0 ] && [ "$invalid" -eq 0 ]
