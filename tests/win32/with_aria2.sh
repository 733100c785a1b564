#!/usr/bin/env bash
# Usage: with_aria2.sh SIM COMMAND...
# The demo service (as with_sim.sh starts it) offering one more file under a
# Chinese name as /file/99, and a real aria2c on a free loopback port with a
# fresh secret, saving into a fresh folder. Runs COMMAND with
# SORREL_TEST_SIM_URL, SORREL_TEST_ARIA2_URL, SORREL_TEST_ARIA2_SECRET,
# SORREL_TEST_SAMPLE (the file's bytes) and SORREL_TEST_DOWNLOADS (the
# engine's folder) naming them; stops both after. Exit 77 without aria2c.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
command -v aria2c >/dev/null || { echo "with_aria2.sh: aria2c is not installed" >&2; exit 77; }
work="$(mktemp -d)"
aria2_pid=""
finish() {
  sim_stop
  [ -z "$aria2_pid" ] || { kill "$aria2_pid" && wait "$aria2_pid"; } 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT
mkdir "$work/files" "$work/downloads"
head -c 70000 /dev/urandom >"$work/sample.bin"
cp "$work/sample.bin" "$work/files/样本 数据.bin"
sim_start "$1" --port 0 --test-mode --fixed-code k7p2 --file "99=$work/files/样本 数据.bin" ||
  { echo "with_aria2.sh: the service printed no address" >&2; exit 1; }
shift

secret="$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')"
for _ in 1 2 3; do
  port=$((20000 + RANDOM % 30000))
  aria2c --no-conf --enable-rpc --rpc-listen-all=false --rpc-listen-port="$port" \
    --rpc-secret="$secret" --dir="$work/downloads" --quiet --enable-dht=false \
    --follow-torrent=false --auto-file-renaming=false >"$work/aria2.log" 2>&1 &
  aria2_pid=$!
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break 2
    kill -0 "$aria2_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$aria2_pid" 2>/dev/null || true
  wait "$aria2_pid" 2>/dev/null || true
  aria2_pid=""
done
[ -n "$aria2_pid" ] || { echo "with_aria2.sh: aria2c did not start" >&2; cat "$work/aria2.log" >&2; exit 1; }

SORREL_TEST_SIM_URL="$sim_origin" SORREL_TEST_ARIA2_URL="http://127.0.0.1:$port/jsonrpc" \
  SORREL_TEST_ARIA2_SECRET="$secret" SORREL_TEST_SAMPLE="$work/sample.bin" \
  SORREL_TEST_DOWNLOADS="$work/downloads" "$@"
