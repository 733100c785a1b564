#!/usr/bin/env bash
# Usage: with_proxies.sh COMMAND...
# Starts three proxies of tests/helpers/test_proxy.py on loopback (HTTP; HTTP
# that wants the user "ann" with the password "s3cret"; SOCKS4), runs
# COMMAND with SORREL_TEST_PROXIES naming them ("http=PORT auth=PORT
# socks4=PORT") and SORREL_TEST_PROXY_LOGS the folder of their logs
# (http.log, auth.log, socks4.log), and stops them.
set -euo pipefail
proxy_script="$(dirname "$0")/../helpers/test_proxy.py"
logs="$(mktemp -d)"
pids=()
stop() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$logs"
}
trap stop EXIT
ports=""
for proxy in "http" "auth --user ann --password s3cret" "socks4 --socks4"; do
  read -r name options <<<"$proxy"
  : >"$logs/$name.port"
  # shellcheck disable=SC2086
  python3 "$proxy_script" --log "$logs/$name.log" $options >"$logs/$name.port" &
  pids+=($!)
  port=""
  for _ in $(seq 100); do
    port="$(head -n1 "$logs/$name.port")"
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "with_proxies.sh: the $name proxy printed no port" >&2; exit 1; }
  ports+="${ports:+ }$name=$port"
done
SORREL_TEST_PROXIES="$ports" SORREL_TEST_PROXY_LOGS="$logs" "$@"
