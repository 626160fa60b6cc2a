#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that are
# missing; says nothing when everything is there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev
  util-linux passwd
  qt6-base-dev xvfb xauth
  libcli11-dev nlohmann-json3-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix wine wine64 fonts-wine zip unzip
  dpkg-dev lintian desktop-file-utils help2man
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "deps: need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
echo "deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
