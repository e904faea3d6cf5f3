#!/usr/bin/env bash
# Installs the Debian packages the project needs (when missing) and builds it in build/.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ git libexpat1-dev libssl-dev libgtest-dev libbenchmark-dev
          clang libclang-rt-14-dev parallel libdeflate-dev
          python3-can can-utils)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${missing[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
