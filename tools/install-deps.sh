#!/usr/bin/env bash
# Installs the build's Debian packages when one is missing (needs root or sudo; does nothing when
# everything is present). With the argument `windows` it also installs the Windows cross-build's:
# MinGW-w64 g++ (posix threads) and Wine.
set -euo pipefail
# harnix-util draws previews with cairo (a system font for its text), writes JSON, and writes X3P
# archives with libzip and nettle's MD5; the tests check those archives with xmllint, unzip and
# md5sum; they parse the HTML report with libxml2 and open it in headless Chromium. clang and its
# fuzzer runtime,
# pinned to one version (the fuzz preset names clang++-14), build the fuzz targets;
# groff and man check the manual pages.
packages=(g++ cmake libgtest-dev libgmock-dev libbenchmark-dev pkg-config libcairo2-dev
  libfontconfig-dev fonts-dejavu-core nlohmann-json3-dev libzip-dev nettle-dev libxml2-utils unzip
  clang-14 libclang-rt-14-dev groff-base man-db libxml2-dev chromium)
# The cross-build's GoogleTest is built from the sources libgtest-dev ships; iconv (libc-bin)
# writes the check's UTF-16 list file.
if [ "${1:-}" = windows ]; then packages+=(g++-mingw-w64-x86-64-posix wine wine64 libc-bin); fi
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
