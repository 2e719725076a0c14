#!/usr/bin/env bash
# Installs what the build, the tests and the demo need (Debian 12 packages), when it is missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qtbase5-dev qtbase5-dev-tools
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev ffmpeg
  libjsoncpp-dev libjpeg-dev libjpeg-turbo-progs
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth openssl
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
