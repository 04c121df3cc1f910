#!/bin/bash
# The run command: installs what is missing, builds everything and starts the
# tray program under Wine on the simulated firmware.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$root/build}

bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"

if [ ! -f "$build/Kelvane/Kelvane.exe" ]; then
    echo "Built the channel, the log, the mode model, the simulated firmware and the tests."
    echo "Kelvane.exe itself is not part of the build yet: there is nothing to run."
    exit 0
fi
