#!/bin/bash
# One end-to-end case of a test program, with Wine tracing the event log
# calls of every process it starts (Wine keeps no events, but its
# ReportEventW names each one): the case must pass, and the programs it
# runs must have written every expected event ID.
#   event_trace_test.sh WINE_RUN TEST_PROGRAM GTEST_FILTER ID...
set -uo pipefail
wine_run=$1 program=$2 filter=$3
shift 3
trace=$(mktemp)
trap 'rm -f "$trace"' EXIT

KV_WINEDEBUG=-all,fixme+advapi "$wine_run" "$program" --gtest_filter="$filter" 2>"$trace"
status=$?
# fixme:advapi:ReportEventW (handle,type,category,id,...): the ID in hex.
written=$(sed -n 's/.*:ReportEventW (\([^,]*,\)\{3\}0x\([0-9a-fA-F]*\),.*/\2/p' "$trace" |
    while read -r hex; do echo $((16#$hex)); done | sort -n | uniq | tr '\n' ' ')
echo "events written: ${written:-none}"
failed=0
[ "$status" -eq 0 ] || { echo "FAIL: $filter exited with $status"; failed=1; }
for id in "$@"; do
    if [[ " $written" == *" $id "* ]]; then
        echo "ok: event $id"
    else
        echo "FAIL: event $id not written"
        failed=1
    fi
done
exit "$failed"
