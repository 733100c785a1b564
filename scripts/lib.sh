# What the scripts and the Windows tests' shell scripts share; they source it.

jobs="$(nproc)"

# Runs COMMAND up to TIMES times, SECONDS apart, until it succeeds.
retry() {
  local times="$1" seconds="$2"
  shift 2
  for _ in $(seq "$times"); do "$@" && return 0; sleep "$seconds"; done
  return 1
}

# No proxy of the environment may stand between a client and loopback.
clear_proxies() { unset -v http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY; }

# Starts the demo service SIM with ARGS and waits up to ten seconds for the
# address it prints first. Sets sim_pid, sim_origin and sim_log (everything
# it said); fails when it ends or prints no address. sim_stop ends it.
sim_start() {
  local sim="$1"
  shift
  sim_log="$(mktemp)" sim_origin=""
  "$sim" "$@" >"$sim_log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    sim_origin="$(head -n1 "$sim_log" | tr -d '\r')"
    [[ "$sim_origin" == http://* ]] && return 0
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  sim_origin=""
  return 1
}
sim_stop() {
  [ -z "${sim_pid:-}" ] || { kill "$sim_pid" && wait "$sim_pid"; } 2>/dev/null || true
  rm -f "${sim_log:-}"
  sim_pid=""
}

# A fresh wine prefix, booted by LOADER (wine, or the 64-bit loader), whose
# windows the X server does not decorate, under the Chinese system code page.
# Sets wine to LOADER; wine_end stops the prefix's server and removes it.
wine_begin() {
  wine="$1"
  [[ "$wine" != /* ]] || export WINELOADER="$wine"
  WINEPREFIX="$(mktemp -d)/prefix"
  export WINEPREFIX LC_ALL=zh_CN.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  "$wine" wineboot --init >/dev/null 2>&1 || true
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
}
wine_end() {
  "$wine" wineboot --end-session >/dev/null 2>&1 || true
  wineserver -k 2>/dev/null || true
  rm -rf "$(dirname "$WINEPREFIX")"
}
