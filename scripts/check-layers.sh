#!/usr/bin/env bash
# The framework's folders depend downwards only: com/ <- module/ <- ribbon/, and server/ -> module/
# and com/; runtime/ sees none of them; addin/ wires them all. The health check is a program of its
# own and sees none of the add-in's folders. The Excel stand-in (tools/officesim) takes nothing of
# the add-in's but the handle owners: it declares Office's interfaces itself, so that a fault in the
# add-in's declarations is not repeated on Office's side. Fails, naming each file, when a folder
# includes what it may not.
set -euo pipefail
src="${1:-$(dirname "$0")/../src}"
declare -A allowed=(
  [com]="com"
  [module]="com module"
  [ribbon]="com module ribbon"
  [server]="com module server"
  [runtime]="runtime"
  [healthcheck]="healthcheck"
)
bad=0
for folder in "${!allowed[@]}"; do
  while IFS=: read -r file line target; do
    top="${target%%/*}"
    case " ${allowed[$folder]} " in *" $top "*) ;; *)
      echo "$file:$line: $folder/ includes $target (allowed: ${allowed[$folder]})"; bad=1 ;;
    esac
  done < <(grep -HnoE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z]+/[^"]+"' "$src/$folder"/* |
           sed -E 's/^([^:]+):([0-9]+):.*"([^"]+)"/\1:\2:\3/')
done
# The stand-in: from src/, only these files.
tools="$src/../tools/officesim"
if [ -d "$tools" ]; then
  while IFS=: read -r file line target; do
    case "$target" in com/handles.h) ;; *)
      echo "$file:$line: the Excel stand-in includes the add-in's $target (allowed from src/: com/handles.h)"; bad=1 ;;
    esac
  done < <(grep -HnoE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z]+/[^"]+"' "$tools"/* |
           sed -E 's/^([^:]+):([0-9]+):.*"([^"]+)"/\1:\2:\3/')
fi
exit $bad
