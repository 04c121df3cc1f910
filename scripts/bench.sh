#!/bin/bash
# The benchmark: installs what is missing, builds everything and measures
# Kelvane.exe under Wine on the simulated firmware against the reference
# program in bench/. Prints the table and keeps it in build/bench/results.md.
#   KV_BENCH_RUNS   timed runs per measure (default 21, at least 15)
#   KV_BENCH_ONLY=startup   only the start-up rows (a quicker comparison)
#   KV_BENCH_ONLY=ctl       only kelvanectl get against its reference
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$root/build}
runs=${KV_BENCH_RUNS:-21}

bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" >/dev/null

winetest_dir="$build/winetest"
bash "$root/winetest/start-session.sh" "$winetest_dir" "$build/doubles/simfirmware.dll" "$build/doubles/simtaskscheduler.dll"
source "$winetest_dir/wine-env.sh"
# The program's own files from earlier runs do not count.
rm -rf "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Quellmark"

results="$build/bench/results.md"
table=$(mktemp)
status=0
KV_WINE_TIMEOUT=900 "$winetest_dir/wine-run" "$build/bench/kv_bench.exe" \
    "$(winepath -w "$build/Kelvane/Kelvane.exe")" "$(winepath -w "$build/bench/kv_reference_tray.exe")" \
    "$(winepath -w "$build/kelvanectl/kelvanectl.exe")" "$(winepath -w "$build/bench/kv_reference_get.exe")" \
    "$runs" ${KV_BENCH_ONLY:+"$KV_BENCH_ONLY"} \
    >"$table" 2>"$build/bench/kv_bench.stderr" || status=$?
bash "$root/winetest/stop-session.sh" "$winetest_dir"

size_of() {
    local stripped
    stripped=$(mktemp)
    i686-w64-mingw32-strip -o "$stripped" "$1"
    stat -c %s "$stripped"
    rm -f "$stripped"
}
{
    echo "# Benchmark of $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo "this tree"), $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo
    echo "Under $(wine --version 2>/dev/null) on the simulated firmware, $(nproc) cores; \`bash scripts/bench.sh\`."
    echo
    tr -d '\r' <"$table"
    echo "| Kelvane.exe, stripped | $(size_of "$build/Kelvane/Kelvane.exe") bytes | | |"
    echo "| kelvanectl.exe, stripped | $(size_of "$build/kelvanectl/kelvanectl.exe") bytes | | |"
    echo "| KvInstallAction.exe, stripped | $(size_of "$build/KvInstallAction/KvInstallAction.exe") bytes | | |"
    if [ -f "$build/installer/Kelvane.msi" ]; then
        echo "| Kelvane.msi | $(stat -c %s "$build/installer/Kelvane.msi") bytes | | |"
    else
        echo "| Kelvane.msi | not built | | |"
    fi
} >"$results"
rm -f "$table"
cat "$results"
if [ "$status" -ne 0 ]; then
    echo "kv_bench.exe failed ($status):" >&2
    cat "$build/bench/kv_bench.stderr" >&2
    exit 1
fi
