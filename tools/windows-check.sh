#!/usr/bin/env bash
# The Windows build's check: cross-builds the windows preset, runs its test program under Wine,
# then runs the Linux harnix and harnix.exe on the same generated measurements with every output
# and compares the outputs byte for byte, and finally unpacks the release zip and runs the program
# it holds. Wine runs console programs without a display; its prefix lives in build/wine.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh windows
jobs=$(nproc 2>/dev/null || echo 2)
started=$SECONDS

cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs" --target harnix harnix-util
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"

# The same settings as the windows test preset: a private prefix, no debug chatter, no menu
# entries or browser and runtime installers, UTF-8 names between Linux and Windows.
export WINEPREFIX="$PWD/build/wine" WINEDEBUG=-all LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
unset DISPLAY WAYLAND_DISPLAY
wine_run() { wine "$@" 2> >(grep -v -e 'wine32 is missing' -e 'multiarch needs' \
  -e 'dpkg --add-architecture' -e 'apt-get install wine32' >&2); }
trap 'wineserver -w 2>/dev/null || true' EXIT

ctest --preset windows

linux=$PWD/build/release/harnix
util=$PWD/build/release/tools/harnix-util
exe=$PWD/build/windows/harnix.exe
demo=build/windows-demo
rm -rf "$demo"
mkdir -p "$demo"
cd "$demo"
failures=0
differ() { echo "DIFFERENT: $*"; failures=$((failures + 1)); }
# Runs both programs on list file $2 with the options after it and all three outputs, written to
# linux-$1/ and windows-$1/, then compares the outputs.
compare() {
  local label=$1 list=$2
  shift 2
  mkdir "linux-$label" "windows-$label"
  "$linux" "$@" -AvgOut "linux-$label/avg.dat" -SdevOut "linux-$label/sdev.dat" \
    -CountOut "linux-$label/count.dat" "@$list" >"linux-$label/console.txt" 2>&1 ||
    echo "linux run failed: $label"
  wine_run "$exe" "$@" -AvgOut "windows-$label/avg.dat" -SdevOut "windows-$label/sdev.dat" \
    -CountOut "windows-$label/count.dat" "@$list" >"windows-$label/console.txt" 2>&1 ||
    echo "windows run failed: $label"
  for out in avg sdev count; do
    [ -s "linux-$label/$out.dat" ] && cmp "linux-$label/$out.dat" "windows-$label/$out.dat" ||
      differ "$label $out"
  done
  echo "compared: $label"
}

# Camera windows, mixed phase resolutions and scale factors, invalid pixels.
"$util" synth --out inputs --count 8 --width 320 --height 240 --seed 2026 --windows --mixed \
  --invalid 3 >/dev/null
compare min-count inputs/list.txt -MinValidCnt 6
compare plane inputs/list.txt -SdevRemove plane -MinValidPct 50
compare sphere-high inputs/list.txt -SdevRemove sphere -PhaseRes high
compare piston-super inputs/list.txt -SdevRemove piston -PhaseRes super

# Names beyond ASCII: é, 測 and an emoji outside the basic plane, listed in UTF-8 for Linux and
# in UTF-16 with a byte-order mark and CRLF line ends for Windows; the outputs named so too.
"$util" synth --out names --count 3 --width 64 --height 48 --seed 17 >/dev/null
names=("names/é.dat" "names/測.dat" "names/😀.dat")
for i in 0 1 2; do mv "names/meas_000$((i + 1)).dat" "${names[$i]}"; done
printf '%s\n' "${names[@]}" >utf8-list.txt
{ printf '\xff\xfe'; printf '%s\r\n' "${names[@]}" | iconv -f UTF-8 -t UTF-16LE; } >utf16-list.txt
"$linux" -AvgOut "avg é.dat" @utf8-list.txt >/dev/null
wine_run "$exe" -AvgOut "avg 測😀.dat" @utf16-list.txt >/dev/null
cmp "avg é.dat" "avg 測😀.dat" && echo "compared: names beyond ASCII" || differ "names beyond ASCII"
# A wildcard is expanded by the program itself on Windows.
wine_run "$exe" -CountOut wildcard-count.dat 'names/*.dat' >/dev/null
"$linux" -CountOut linux-count.dat names/*.dat >/dev/null
cmp wildcard-count.dat linux-count.dat && echo "compared: wildcard" || differ "wildcard"
# The names a wildcard stands for are taken in code-point order (upper case before lower case),
# whatever the order the folder lists them in: the first input, which sets the output's phase
# resolution, is the same on both systems.
"$util" synth --out order --count 4 --width 64 --height 48 --seed 5 --mixed >/dev/null
ordered=("order/B2.dat" "order/a.dat" "order/b.dat" "order/é.dat")
for i in 0 1 2 3; do mv "order/meas_000$((4 - i)).dat" "${ordered[$i]}"; done
wine_run "$exe" -Verbose -AvgOut wildcard-avg.dat 'order/*.dat' | grep InFile | tr -d '\r' \
  >windows-order.txt
"$linux" -Verbose -AvgOut linux-avg.dat order/*.dat | grep InFile >linux-order.txt
cmp wildcard-avg.dat linux-avg.dat && cmp windows-order.txt linux-order.txt &&
  echo "compared: wildcard order" || differ "wildcard order"
cd - >/dev/null

# The release zip: unpacked, the program in it gives the build tree's results.
cpack --preset windows >/dev/null
zip=$(ls build/windows/harnix-*-windows-x86_64.zip)
rm -rf build/windows-zip
mkdir -p build/windows-zip
(cd build/windows-zip && cmake -E tar xf "../../$zip")
packaged=$(ls build/windows-zip/*/harnix.exe)
(cd "$demo" && wine_run "../../$packaged" -MinValidCnt 6 -AvgOut zip-avg.dat @inputs/list.txt \
  >/dev/null)
cmp "$demo/zip-avg.dat" "$demo/windows-min-count/avg.dat" && echo "compared: program from $zip" ||
  differ "program from $zip"

echo "Windows check took $((SECONDS - started)) s"
[ "$failures" -eq 0 ] || { echo "$failures Windows comparisons failed"; exit 1; }
