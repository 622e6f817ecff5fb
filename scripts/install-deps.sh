#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Netquarry
# need. Does nothing (and no "apt-get update") when they are all present.
# "--bench" adds what bench/run_bench compares against and profiles with;
# CI never asks for them.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config ccache
    qt6-base-dev qt6-multimedia-dev
    libsqlite3-dev libzstd-dev
    libcurl4-openssl-dev ca-certificates openssl
    libgtest-dev libgmock-dev
    clang-format
    clang libclang-rt-14-dev
    xvfb xauth
    fonts-urw-base35
)
if [ "${1:-}" = "--bench" ]; then
    packages+=(nginx-light wget2 curl python3.11-doc iproute2 util-linux valgrind)
fi

missing=()
for p in "${packages[@]}"; do
    if [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" != "install ok installed" ]; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
