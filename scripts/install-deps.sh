#!/usr/bin/env bash
# Installs what the build and the tests need and is not on the machine yet. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
# Tools are probed by their command, so a tool that came from elsewhere (a Node.js build that
# bundles npm, say) is used as it is instead of fighting the Debian package.
need_command() {  # command package
  command -v "$1" >/dev/null 2>&1 || missing+=("$2")
}
need_package() {  # package
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed' || missing+=("$1")
}

need_command cmake cmake
need_command ninja ninja-build
need_command g++ g++
need_command node nodejs
need_command npm npm
need_command llc-16 llvm-16
need_command clang-16 clang-16
need_command clang clang
need_command wat2wasm wabt
need_command chromium chromium
for package in libgtest-dev libicu-dev libcpp-httplib-dev libssl-dev libclang-rt-14-dev; do
  need_package "$package"
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
