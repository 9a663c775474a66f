#!/bin/sh
# soak.sh [ROUNDS] [BUSY]: runs the end-to-end suites ROUNDS times in a row (default 20) on a
# loaded machine: BUSY loops (default 2) keep the processors busy beside them. Prints one line
# per round and a last line with the failures; a failing round's output stays in
# build/soak/round-N.log, and a failing test's screenshots under tests/e2e/artifacts/.
# Needs a build in build/ (./test.sh or ./run.sh makes one).
set -u
rounds=${1:-20}
busy=${2:-2}
root=$(cd "$(dirname "$0")/../.." && pwd)
logs=$root/build/soak
mkdir -p "$logs"

pids=""
i=0
while [ "$i" -lt "$busy" ]; do
    sh -c 'while :; do :; done' &
    pids="$pids $!"
    i=$((i + 1))
done
trap 'kill $pids 2>/dev/null' EXIT INT TERM

failures=0
round=1
while [ "$round" -le "$rounds" ]; do
    start=$(date +%s)
    log=$logs/round-$round.log
    if ctest --test-dir "$root/build" -L e2e --output-on-failure >"$log" 2>&1; then
        result=passed
        rm -f "$log"
    else
        result="FAILED: $(grep -E '^[[:space:]]*[0-9]+ - ' "$log" | tr -s ' ' | tr '\n' ';') log $log"
        failures=$((failures + 1))
    fi
    echo "round $round/$rounds: $result in $(( $(date +%s) - start )) s"
    round=$((round + 1))
done
echo "soak: $failures of $rounds rounds failed, $busy busy loops beside them"
[ "$failures" -eq 0 ]
