#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing on Linux.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib/common.sh
source "$root/scripts/lib/common.sh"
stage_name=deps
packages=(build-essential cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev
  libbenchmark-dev libpng-dev libssl-dev libcli11-dev pkg-config libcpp-httplib-dev nlohmann-json3-dev)
if ! install_missing "${packages[@]}"; then
  echo "deps: cannot install ${not_installed[*]}"
  exit 1
fi
