#!/usr/bin/env bash
# Usage: with_sim.sh SIM COMMAND...
# Starts the demo service SIM in test mode on a free loopback port, runs
# COMMAND with SORREL_TEST_SIM_URL naming it, and stops the service.
set -euo pipefail
sim="$1"
shift
out="$(mktemp)"
"$sim" --port 0 --test-mode >"$out" 2>/dev/null &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; rm -f "$out"' EXIT
for _ in $(seq 100); do
  [ -s "$out" ] && break
  sleep 0.1
done
SORREL_TEST_SIM_URL="$(head -n1 "$out")"
[ -n "$SORREL_TEST_SIM_URL" ] || { echo "with_sim.sh: the service printed no address" >&2; exit 1; }
export SORREL_TEST_SIM_URL
"$@"
