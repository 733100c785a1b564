# What the scripts and the Windows tests' shell scripts share; they source it.

jobs="$(nproc)"

# Runs COMMAND up to TIMES times, SECONDS apart, until it succeeds.
retry() {
  local times="$1" seconds="$2"
  shift 2
  for _ in $(seq "$times"); do "$@" && return 0; sleep "$seconds"; done
  return 1
}

# Succeeds when the kernel itself runs 32-bit x86 programs: a 93-byte
# program that only exits runs, and no emulator registered with binfmt_misc
# stands in for the kernel (such a machine is treated as one without 32-bit
# support: wine under an emulator is far too slow and crashes in threads).
runs_32bit_natively() {
  local entry probe status
  for entry in /proc/sys/fs/binfmt_misc/*; do
    [ -f "$entry" ] || continue
    [ "$(head -n1 "$entry" 2>/dev/null)" = enabled ] || continue
    # The ELF header of a 32-bit x86 program: class 1, machine 3.
    if grep -Eq '^magic 7f454c460101[0-9a-f]{24}0300' "$entry" 2>/dev/null; then return 1; fi
  done
  probe="$(mktemp)"
  # ELF header, one loadable segment, then: mov eax, 1; xor ebx, ebx; int 0x80.
  printf '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0\x01\0\0\0\x54\x80\x04\x08' >"$probe"
  printf '\x34\0\0\0\0\0\0\0\0\0\0\0\x34\0\x20\0\x01\0\0\0\0\0\0\0' >>"$probe"
  printf '\x01\0\0\0\0\0\0\0\0\x80\x04\x08\0\x80\x04\x08\x5d\0\0\0\x5d\0\0\0' >>"$probe"
  printf '\x05\0\0\0\0\x10\0\0\xb8\x01\0\0\0\x31\xdb\xcd\x80' >>"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null && status=0 || status=1
  rm -f "$probe"
  return "$status"
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
