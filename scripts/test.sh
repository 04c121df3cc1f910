#!/bin/bash
# The test command: installs what is missing, builds, and runs every test
# under Wine (CTest prepares the prefix, Xvfb and the wineserver itself).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$root/build}

bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"
cd "$build"
ctest --output-on-failure --timeout 300

# Once more in the reverse order: no test may rely on what another left in
# the shared prefix.
ctest -N | sed -n 's/^ *Test *#[0-9]*: //p' | grep -vx 'wine\.start\|wine\.stop' | tac >reverse-order.txt
KV_TEST_ORDER="$build/reverse-order.txt" ctest --output-on-failure --timeout 300

bash "$root/scripts/check-release.sh"

# The same code through a second compiler, whose Kelvane.exe must start and
# run as the first one's does.
bash "$root/scripts/clang-build.sh"
