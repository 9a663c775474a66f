#!/bin/sh
# Fuzzes every decoder target for SECONDS each (default 300) and reports executions and
# findings per target; the same runner ./test.sh uses briefly.
exec "$(dirname "$0")/../tests/fuzz/run-fuzz.sh" "${1:-300}"
