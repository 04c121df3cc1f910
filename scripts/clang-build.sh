#!/bin/bash
# The second compiler: builds everything again with clang and lld (warnings
# are errors) into its own folder, then runs the end-to-end tests of the real
# Kelvane.exe with the clang-built programs. The Wine prefix of the first
# build is borrowed, so run this after it.
# Usage: clang-build.sh   (KV_BUILD_DIR names the first build, KV_CLANG_BUILD_DIR this one)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$root/build}
clang_build=${KV_CLANG_BUILD_DIR:-$build-clang}

started=$(date +%s)
cmake -S "$root" -B "$clang_build" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-clang-i686.cmake" \
      -DKV_WINEPREFIX="$build/wineprefix" >/dev/null
cmake --build "$clang_build" --parallel "$(nproc)"
echo "clang build: $(($(date +%s) - started)) s"

cd "$clang_build"
# A failed test runs once more, as in the test command.
ctest --output-on-failure --timeout 300 -j2 --repeat until-pass:2 -R '^TrayProgramTest\.'
