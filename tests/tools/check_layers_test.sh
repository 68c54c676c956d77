#!/usr/bin/env bash
# The layer check passes on the tree, then fails, naming the file, on a copy given one upward
# include (maps/ including averaging/), one sideways include between the layers beside the engine,
# one whose surface layer reaches into harnix-util, a tools/util include of cli/, and on one whose
# engine or writers print.
set -euo pipefail
src=$1
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
"$src/tools/check-layers.sh" "$src"

# expect_refused FILE LINE WORD: FILE given LINE must fail the check, naming FILE and WORD.
expect_refused() {
  rm -rf "$copy"/*
  cp -r "$src"/{base,maps,datafile,fit,averaging,surface,export,cli,tools} "$copy"/
  echo "$2" >>"$copy/$1"
  if out=$("$src/tools/check-layers.sh" "$copy"); then
    echo "not refused: $1 given $2"
    exit 1
  fi
  grep -qF "$1:" <<<"$out" && grep -qF "$3" <<<"$out" || { echo "unclear: $out"; exit 1; }
}

expect_refused maps/window.h '#include "averaging/settings.h"' averaging/settings.h
expect_refused tools/util/loaded_file.h '#include "cli/usage.h"' cli/usage.h
expect_refused surface/levelling.h '#include "export/export_formats.h"' export/export_formats.h
expect_refused export/export_x3p.h '#include "averaging/settings.h"' averaging/settings.h
expect_refused averaging/tolerance.h '#include "surface/heights.h"' surface/heights.h
expect_refused surface/heights.h '#include "util/loaded_file.h"' util/loaded_file.h
expect_refused averaging/tolerance.h 'inline void shout() { std::fprintf(stderr, "x"); }' prints
expect_refused export/md5_hex.h 'inline void shout() { std::puts("x"); }' prints
