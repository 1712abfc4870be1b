#!/usr/bin/env bash
# The framework's folders depend downwards only: com/ <- module/ <- ribbon/, and server/ -> module/
# and com/; runtime/ sees none of them; addin/ wires them all. Fails, naming each file, when a folder includes one above it.
set -euo pipefail
src="${1:-$(dirname "$0")/../src}"
declare -A allowed=(
  [com]="com"
  [module]="com module"
  [ribbon]="com module ribbon"
  [server]="com module server"
  [runtime]="runtime"
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
exit $bad
