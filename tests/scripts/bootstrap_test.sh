#!/usr/bin/env bash
# The decisions of scripts/bootstrap, with apt-get, dpkg and the kernel probe
# replaced by fakes that log their calls: no network, no package changes.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fakes="$work/bin"
mkdir -p "$fakes"
export FAKE_LOG="$work/calls"

cat >"$fakes/apt-get" <<'FAKE'
#!/usr/bin/env bash
echo "apt-get $*" >>"$FAKE_LOG"
if [ "$1" = update ] && [ "${FAKE_UPDATE_FAILS:-}" = 1 ]; then
  echo "E: Failed to fetch http://mirror.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2
  echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
  exit 100
fi
if [ "$1" = install ] && [ "${FAKE_WINE32_BROKEN:-}" = 1 ] && [[ " $* " == *" wine32:i386 "* ]]; then
  echo "E: Unable to correct problems, you have held broken packages." >&2
  exit 100
fi
FAKE
cat >"$fakes/dpkg-query" <<'FAKE'
#!/usr/bin/env bash
package="${*: -1}"
[[ " ${FAKE_MISSING:-} " == *" $package "* ]] && exit 1
printf 'install ok installed'
FAKE
cat >"$fakes/dpkg" <<'FAKE'
#!/usr/bin/env bash
echo "dpkg $*" >>"$FAKE_LOG"
FAKE
printf '#!/bin/sh\necho zh_CN.utf8\n' >"$fakes/locale"
printf '#!/bin/sh\nexec "$@"\n' >"$fakes/sudo"
printf '#!/bin/sh\n:\n' >"$fakes/sleep"
chmod +x "$fakes"/*

failures=0
# run NAME: runs the script with the fakes first on PATH.
run() {
  : >"$FAKE_LOG"
  PATH="$fakes:$PATH" SORREL_BOOTSTRAP_STATE="$work/state" SORREL_BOOTSTRAP_PAUSE=0 \
    "$root/scripts/bootstrap" >"$work/out" 2>"$work/err" && status=0 || status=$?
}
expect() {
  local what="$1"
  shift
  if ! "$@"; then
    echo "FAIL: $what" >&2
    echo "--- calls:" >&2; cat "$FAKE_LOG" >&2
    echo "--- out:" >&2; cat "$work/out" "$work/err" >&2
    failures=$((failures + 1))
  fi
}
logged() { grep -q -- "$1" "$FAKE_LOG"; }
not_logged() { ! grep -q -- "$1" "$FAKE_LOG"; }
count() { [ "$(grep -c -- "$1" "$FAKE_LOG")" = "$2" ]; }

# Everything installed: no package manager call at all.
FAKE_MISSING="" SORREL_BOOTSTRAP_32BIT=yes run
expect "all present: exit 0" [ "$status" = 0 ]
expect "all present: no apt-get" not_logged apt-get

# A kernel without 32-bit support: no i386 architecture, no wine32.
export FAKE_MISSING="wine wine64 wine32:i386"
SORREL_BOOTSTRAP_32BIT=no run
expect "no 32-bit: exit 0" [ "$status" = 0 ]
expect "no 32-bit: no i386 architecture" not_logged "add-architecture"
expect "no 32-bit: wine and wine64 asked for" logged "install .* wine wine64"
expect "no 32-bit: wine32 never asked for" not_logged "wine32"

# A 32-bit kernel and a good mirror: the architecture, then wine32 with the rest.
SORREL_BOOTSTRAP_32BIT=yes run
expect "32-bit: exit 0" [ "$status" = 0 ]
expect "32-bit: i386 architecture added" logged "dpkg --add-architecture i386"
expect "32-bit: wine32 asked for" logged "install .* wine32:i386"
expect "32-bit: one update" count "apt-get update" 1

# A mirror that fails one index and cannot give wine32: three updates, the
# index named, the rest installed, one line, and the next run asks no more.
FAKE_UPDATE_FAILS=1 FAKE_WINE32_BROKEN=1 SORREL_BOOTSTRAP_32BIT=yes run
expect "bad mirror: exit 0" [ "$status" = 0 ]
expect "bad mirror: three updates" count "apt-get update" 3
expect "bad mirror: the failed index named" grep -q "binary-i386/Packages.xz" "$work/err"
expect "bad mirror: the rest installed" grep -qx "apt-get install -y -qq --no-install-recommends wine wine64" "$FAKE_LOG"
expect "bad mirror: says the 64-bit build is tested" grep -q "64-bit build" "$work/out"
FAKE_MISSING="wine32:i386" FAKE_WINE32_BROKEN=1 SORREL_BOOTSTRAP_32BIT=yes run
expect "remembered: exit 0" [ "$status" = 0 ]
expect "remembered: no apt-get" not_logged apt-get

# Any other failure to install still fails the script.
rm -rf "$work/state"
FAKE_WINE32_BROKEN=1 FAKE_MISSING="wine wine32:i386" SORREL_BOOTSTRAP_32BIT=no run
expect "other failure: wine32 not asked for, so install succeeds" [ "$status" = 0 ]
cat >"$fakes/apt-get" <<'FAKE'
#!/usr/bin/env bash
echo "apt-get $*" >>"$FAKE_LOG"
[ "$1" = install ] && exit 100
exit 0
FAKE
SORREL_BOOTSTRAP_32BIT=no run
expect "a broken install fails the script" [ "$status" != 0 ]

[ "$failures" = 0 ] && echo "bootstrap_test: all decisions as expected"
exit "$failures"
