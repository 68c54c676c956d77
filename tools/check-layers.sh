#!/usr/bin/env bash
# Fails on an #include that points up the layers, naming the file and the include.
#
#   base <- maps <- datafile, fit <- averaging, surface, export <- cli
#
# A file may include its own folder and the layers below it; datafile/ and fit/ stand side by
# side and include neither each other, and so do averaging/ (the engine), surface/ (heights and
# levelling of one map) and export/ (other programs' formats). tools/util, python/, bench/ and
# fuzz/ use the library layers, never cli/. The library layers never print: a write to the
# standard streams anywhere below cli/ fails too, naming the file and the line (the engine returns
# results and tells an observer instead).
#   tools/check-layers.sh [ROOT]    (ROOT: the source tree, by default this script's)
set -euo pipefail
root=${1:-"$(dirname "$0")/.."}
cd "$root"

rank() {
  case $1 in
    base) echo 0 ;; maps) echo 1 ;; datafile | fit) echo 2 ;; averaging | surface | export) echo 3 ;;
    cli) echo 4 ;; util | python) echo 5 ;; *) echo "" ;;  # the front ends beside cli/
  esac
}

status=0
for dir in base maps datafile fit averaging surface export cli tools/util python bench fuzz; do
  [ -d "$dir" ] || continue
  own=$(rank "$dir")
  while IFS=: read -r file line include; do
    target=${include#*\"}
    target=${target%%/*}
    theirs=$(rank "$target")
    [ -z "$theirs" ] && continue  # a system header or the folder's own relative include
    [ "$target" = "$dir" ] && continue
    if [ -z "$own" ]; then
      [ "$target" != cli ] && continue  # tools, benchmarks and fuzz targets: any library layer
    elif [ "$theirs" -lt "$own" ]; then
      continue
    fi
    echo "$file:$line: ${include#*#}: $target/ is not below $dir/"
    status=1
  done < <(grep -rnE --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$dir" || true)
done
while IFS=: read -r file line text; do
  echo "$file:$line: prints to a standard stream: only cli/ prints"
  status=1
done < <(grep -rnE --include='*.h' --include='*.cpp' \
  '(^|[^a-z_])(printf|puts|perror|putchar)[[:space:]]*\(|std::(cout|cerr|clog)|\b(stdout|stderr)\b' \
  base maps datafile fit averaging surface export 2>/dev/null || true)
[ $status -eq 0 ] || echo "layers: base <- maps <- datafile, fit <- averaging, surface, export <- cli" >&2
exit $status
