#!/bin/sh
# Runs a Windows program under Wine for CTest. Wine starts its service
# processes on demand and they inherit the output of whatever started them;
# so the program writes to a file, not to CTest's pipe, which would otherwise
# stay open until those services end.
out=$(mktemp "${TMPDIR:-/tmp}/tarn-wine-run.XXXXXX") || exit 1
wine "$@" >"$out" 2>&1 </dev/null
status=$?
cat "$out"
rm -f "$out"
exit $status
