#!/usr/bin/env bash
# The layer check passes on the tree, then fails, naming file and include, on a copy given one
# upward include (maps/ including averaging/) and on one given a tools/util include of cli/.
set -euo pipefail
src=$1
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
"$src/tools/check-layers.sh" "$src"
for bad in 'maps/window.h:averaging/settings.h' 'tools/util/heights.h:cli/usage.h'; do
  file=${bad%%:*} include=${bad#*:}
  rm -rf "$copy"/*
  cp -r "$src"/{base,maps,datafile,fit,averaging,cli,tools} "$copy"/
  echo "#include \"$include\"" >>"$copy/$file"
  if out=$("$src/tools/check-layers.sh" "$copy"); then
    echo "not refused: $file including $include"
    exit 1
  fi
  grep -qF "$file:" <<<"$out" && grep -qF "$include" <<<"$out" || { echo "unclear: $out"; exit 1; }
done
