#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing.
# Usage: tools/setup-deps.sh [linux|windows|all]   (default: all)
set -euo pipefail

want=${1:-all}
linux=(cmake g++ make pkg-config googletest libgtest-dev qt6-base-dev libgl-dev
       fonts-arphic-uming util-linux xvfb xauth x11-utils xdotool imagemagick)
checks=(clang libclang-rt-14-dev)
windows=(mingw-w64 g++-mingw-w64-x86-64-posix wine wine64)

case "$want" in
  linux) pkgs=("${linux[@]}") ;;
  windows) pkgs=("${windows[@]}" cmake googletest xvfb xauth x11-utils xdotool imagemagick fonts-arphic-uming) ;;
  all) pkgs=("${linux[@]}" "${checks[@]}" "${windows[@]}") ;;
  *) echo "usage: $0 [linux|windows|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
