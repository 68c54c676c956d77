#!/usr/bin/env bash
# Installs the Debian packages a task needs when one is missing (needs root or sudo; does nothing
# when everything is present). With no argument: everything the build and every test need. With
# `build`: only what building and running the programs needs (tools/demo.sh). With `windows`:
# everything, and the Windows cross-build's MinGW-w64 g++ (posix threads) and Wine.
set -euo pipefail
mode=${1:-test}
case "$mode" in test | build | windows) ;; *)
  echo "usage: tools/install-deps.sh [build|windows]" >&2
  exit 2
  ;;
esac
# harnix-util draws previews with cairo (a system font for its text), writes JSON, and writes X3P
# archives with libzip and nettle's MD5.
packages=(g++ cmake pkg-config libcairo2-dev libfontconfig-dev fonts-dejavu-core nlohmann-json3-dev
  libzip-dev nettle-dev)
# The tests check the X3P archives with xmllint, unzip and md5sum; they parse the HTML report with
# libxml2 and open it in headless Chromium. clang and its fuzzer runtime, pinned to one version
# (the fuzz preset names clang++-14), build the fuzz targets; groff and man check the manual
# pages; GoogleTest and Google Benchmark run the tests and benchmarks. The Python module is built
# with pybind11 for Debian's Python and numpy, and tested with pytest.
if [ "$mode" != build ]; then
  packages+=(libgtest-dev libgmock-dev libbenchmark-dev libxml2-utils unzip clang-14
    libclang-rt-14-dev groff-base man-db libxml2-dev chromium python3-dev pybind11-dev
    python3-pybind11 python3-numpy python3-pytest)
fi
# The cross-build's GoogleTest is built from the sources libgtest-dev ships; iconv (libc-bin)
# writes the check's UTF-16 list file.
if [ "$mode" = windows ]; then packages+=(g++-mingw-w64-x86-64-posix wine wine64 libc-bin); fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
$sudo_cmd apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
