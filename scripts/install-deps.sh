#!/usr/bin/env bash
# Installs what the build and the tests need and is not on the machine yet. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ libgtest-dev libicu-dev libcpp-httplib-dev libssl-dev
          nodejs npm llvm-16 clang-16 wabt chromium clang libclang-rt-14-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The TypeScript checker, pinned, local to the tests.
if [ ! -x tests/node/node_modules/.bin/tsc ]; then
  (cd tests/node && npm ci --no-audit --no-fund --loglevel=error)
fi
