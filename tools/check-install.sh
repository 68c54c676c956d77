#!/usr/bin/env bash
# Checks the installation as a new user meets it, from a built release tree: installs into a
# scratch prefix, runs the installed programs on a small job away from the source tree, renders
# both manual pages with warnings as errors, tries the bash completions, then builds the Debian
# package, lists its contents and checks its files and declared dependencies.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$PWD/build/release
[ -f "$build/CPackConfig.cmake" ] || { echo "check-install: build the release preset first" >&2; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export LC_ALL=C.UTF-8
fail() {
  echo "check-install: $*" >&2
  exit 1
}

files=(bin/harnix bin/harnix-util share/man/man1/harnix.1 share/man/man1/harnix-util.1
  share/bash-completion/completions/harnix share/bash-completion/completions/harnix-util
  share/doc/harnix/README.md share/doc/harnix/LICENSE share/doc/harnix/docs/images/average.png)

# Installation into a staging prefix.
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in "${files[@]}"; do [ -f "$prefix/$f" ] || fail "not installed: $f"; done

# The installed programs, run where no source or build tree is.
cd "$scratch"
bin=$prefix/bin
[ "$("$bin/harnix" -Version)" = "Harnix $version" ] || fail "harnix -Version"
[ "$("$bin/harnix-util" --version)" = "harnix-util $version" ] || fail "harnix-util --version"
"$bin/harnix-util" synth --out inputs --count 3 --width 40 --height 30 --mixed
"$bin/harnix" -MinValidCnt 2 -AvgOut avg.dat -SdevOut sdev.dat -CountOut count.dat @inputs/list.txt
[[ $("$bin/harnix-util" info avg.dat) == *"computed from 3 input data files"* ]] || fail "info avg.dat"
"$bin/harnix-util" export avg.dat --format png -o avg.png
[ -s avg.png ] || fail "no preview written"
"$bin/harnix-util" report --level plane avg.dat sdev.dat count.dat -o report.html
[ "$(grep -c '<img src="data:image/png;base64,' report.html)" = 3 ] || fail "report.html lacks its previews"

# The Python module from the prefix's Python directory, by Debian's Python, away from the tree.
if [ -f "$build/python/harnix/__init__.py" ]; then
  site=$(/usr/bin/python3 -c 'import sys; print("lib/python%d.%d/dist-packages" % sys.version_info[:2])')
  [ -f "$prefix/$site/harnix/py.typed" ] || fail "the Python module is not under $prefix/$site"
  PYTHONPATH=$prefix/$site /usr/bin/python3 -c '
import harnix, sys
m = harnix.average(["avg.dat", "avg.dat"]).average
assert m.window == harnix.read("avg.dat").window, "harnix.average"
assert harnix.__file__.startswith(sys.argv[1]), harnix.__file__
' "$prefix" || fail "the installed Python module does not work"
fi

# Manual pages: no warning from groff or man, and man finds each page by name from the PATH.
for page in harnix harnix-util; do
  file=$prefix/share/man/man1/$page.1
  out=$(groff -man -Tutf8 -ww -z "$file" 2>&1) || fail "groff failed on $page.1"
  [ -z "$out" ] || fail "groff warns on $page.1: $out"
  err=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null) || fail "man -l failed on $page.1"
  [ -z "$err" ] || fail "man warns on $page.1: $err"
  shown=$(env -u MANPATH PATH="$bin:$PATH" man "$page" 2>/dev/null) || true
  [[ $shown == *"EXIT STATUS"* ]] || fail "man does not find $page through $bin on the PATH"
done

# Bash completion: one option keyword (any case) and one fixed value for each program.
completions=$prefix/share/bash-completion/completions
complete_line() {  # prints the candidates bash offers for the words $3... with function $2
  bash -c 'source "$1"; shift; f=$1; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    $f; echo "${COMPREPLY[*]}"' _ "$@"
}
[ "$(complete_line "$completions/harnix" _harnix harnix -sdevr)" = "-SdevRemove" ] ||
  fail "harnix completion of -sdevr"
[ "$(complete_line "$completions/harnix-util" _harnix_util harnix-util export a --format p)" = png ] ||
  fail "harnix-util completion of --format p"
[ "$(complete_line "$completions/harnix-util" _harnix_util harnix-util report --level pl)" = plane ] ||
  fail "harnix-util completion of report --level pl"

# The Debian package.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/package" >/dev/null
debs=("$scratch"/package/harnix_"$version"_*.deb)
deb=${debs[0]}
[ -f "$deb" ] || fail "cpack wrote no harnix_${version}_*.deb"
echo "$(basename "$deb"):"
dpkg-deb -c "$deb" | tee "$scratch/contents"
for f in "${files[@]}"; do
  grep -q " \./usr/$f\$" "$scratch/contents" || fail "not in the package: /usr/$f"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
declared() { [[ ", $depends," == *", $1"[\ ,]* ]]; }
[ "$(dpkg-deb -f "$deb" Package)" = harnix ] || fail "package name"
# The long description: not the summary again, every line indented by one space exactly.
description=$(dpkg-deb -f "$deb" Description)
summary=$(sed -n 1p <<<"$description")
[ "$(sed -n 2p <<<"$description")" != " $summary" ] || fail "the long description repeats the summary"
sed 1d <<<"$description" | grep -qv '^ [^ ]' && fail "a long description line is not indented by one space"
for p in libcairo2 libfontconfig1 fonts-dejavu-core libzip4 libnettle8; do
  declared "$p" || fail "Depends lacks $p"
done
# Every library a program loads by name comes from a declared package.
dpkg-deb -x "$deb" "$scratch/unpacked"
for program in "$scratch"/unpacked/usr/bin/*; do
  for lib in $(objdump -p "$program" | awk '/NEEDED/ {print $2}'); do
    # ldd names the dynamic loader by its path alone, the others as "name => path".
    path=$(ldd "$program" | awk -v lib="$lib" '$1 == lib {print $3}
      substr($1, 1, 1) == "/" && substr($1, length($1) - length(lib)) == "/" lib {print $1}')
    [ -n "$path" ] || fail "$lib, which $(basename "$program") needs, is not found"
    owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "/usr$path" 2>/dev/null ||
      dpkg -S "${path#/usr}" 2>/dev/null) || fail "no package owns $lib ($path)"
    declared "${owner%%:*}" || fail "$lib comes from ${owner%%:*}, which Depends does not declare"
  done
done
"$scratch/unpacked/usr/bin/harnix" -Version >/dev/null || fail "the packaged harnix does not run"
if [ -f "$build/python/harnix/__init__.py" ]; then
  ls "$scratch"/unpacked/usr/lib/python3/dist-packages/harnix/_core.*.so >/dev/null 2>&1 ||
    fail "the package lacks the Python module in /usr/lib/python3/dist-packages"
  declared python3-numpy || fail "Depends lacks python3-numpy"
  PYTHONPATH=$scratch/unpacked/usr/lib/python3/dist-packages /usr/bin/python3 -c 'import harnix' ||
    fail "the packaged Python module does not import"
fi
echo "check-install: installation, manual pages, completions and package are in order"
