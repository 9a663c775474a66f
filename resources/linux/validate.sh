#!/bin/sh
# Runs a validator on the desktop metadata: validate.sh [--silent] TOOL ARGS...
# Exits with 77 (a skipped test for CTest) when TOOL is not installed. With --silent, any
# message from TOOL fails the check, hints included.
silent=false
if [ "$1" = --silent ]; then
    silent=true
    shift
fi
tool=$1
if ! command -v "$tool" >/dev/null 2>&1; then
    echo "$tool not installed: skipped"
    exit 77
fi
output=$("$@" 2>&1)
status=$?
[ -n "$output" ] && printf '%s\n' "$output"
[ "$status" -ne 0 ] && exit "$status"
if $silent && [ -n "$output" ]; then
    exit 1
fi
exit 0
