#!/usr/bin/env bash
# Runs a GoogleTest executable under Wine in a virtual desktop and judges it by
# its XML report, since the desktop does not pass the exit status back. Every
# test must run: a skipped one fails the run.
#   run_in_desktop.sh WINE-EXEC NAME,WxH TEST.exe [args...]
set -euo pipefail
wine_exec=$1 desktop=$2 exe=$3
shift 3
report=$(mktemp -d)/report.xml
trap 'rm -rf "$(dirname "$report")"' EXIT
"$wine_exec" --desktop "$desktop" "$exe" "$@" "--gtest_output=xml:Z:${report//\//\\}" || true
if [ ! -s "$report" ]; then
    echo "run_in_desktop: no test report from $exe" >&2
    exit 1
fi
cat "$report"
tests=$(grep -o '<testsuites tests="[0-9]*"' "$report" | grep -o '[0-9]*')
failures=$(grep -o '<testsuites tests="[0-9]*" failures="[0-9]*"' "$report" | grep -o 'failures="[0-9]*"' | grep -o '[0-9]*')
skipped=$(grep -c 'result="skipped"' "$report" || true)
echo "run_in_desktop: $tests tests, $failures failed, $skipped skipped"
[ "$tests" -gt 0 ] && [ "$failures" -eq 0 ] && [ "$skipped" -eq 0 ] && ! grep -q '<error' "$report"
