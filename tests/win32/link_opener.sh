#!/usr/bin/env bash
# Usage: link_opener.sh WINE EXE PROBE
# The program as the opener of thunder, flashget and qqdl links: a link on
# the command line is shown at once; a later start hands its link to the
# running window and ends with status 0, leaving one window; the system-menu
# item registers the program for the current user, asking before it replaces
# another program's opener, and its undo removes what it wrote and puts the
# other program's opener back; a notice says what each did. Needs an X
# display (scripts/test-win32).
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
wine="$1" exe="$2" probe="$3"
[ -n "${DISPLAY:-}" ] || { echo "link_opener.sh: no X display, skipped" >&2; exit 77; }
export LC_ALL=C.UTF-8

classes='HKCU\Software\Classes'
other='"C:\other\fg.exe" "%1"'
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  for key in "$classes\\thunder" "$classes\\flashget" "$classes\\qqdl" 'HKCU\Software\sorrel-resolver'; do
    "$wine" reg delete "$key" /f >/dev/null 2>&1 || true
  done
  wait 2>/dev/null || true
}
trap cleanup EXIT
cleanup

fail() {
  echo "link_opener.sh: $*" >&2
  exit 1
}
probe() { "$wine" "$probe" "$@" 2>/dev/null | tr -d '\r'; }
# The value of a key, "-" when the key or value is missing.
value() {
  local out
  if [ "$2" = default ]; then
    out="$("$wine" reg query "$1" /ve 2>/dev/null | tr -d '\r')" || { echo -; return; }
  else
    out="$("$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r')" || { echo -; return; }
  fi
  grep -q 'REG_SZ' <<<"$out" || { echo -; return; }
  sed -n 's/^.*REG_SZ[[:space:]]\{0,4\}//p' <<<"$out" | head -n1
}
command_of() { value "$classes\\$1\\shell\\open\\command" default; }
expect() { [ "$2" = "$3" ] || fail "$1 is '$2', not '$3'"; }
expect_notice() {
  expect "the notice" "$(probe notice)" "$1"
  probe notice-ok || fail "the notice '$1' did not close"
}
shows() { grep -qF "$1" <<<"$(probe text EditBox2)"; }
await_result() { retry 50 0.2 shows "$1" || fail "the result box does not show $1: '$(probe text EditBox2)'"; }
opens() { [ "$(command_of "$1")" = "$2" ]; }
await_command() { retry 50 0.2 opens "$1" "$2" || fail "the $1 opener is '$(command_of "$1")', not '$2'"; }

thunder='thunder://QUFodHRwOi8vMTI3LjAuMC4xOjgwMTcvZGwvYWJjL3JlYWRtZS50eHRaWg=='
flashget='flashget://W0ZMQVNIR0VUXWh0dHA6Ly8xMjcuMC4wLjE6ODAxNy9kbC94eXovbm90ZXMudHh0W0ZMQVNIR0VUXQ==&sorrel'

# Another program opens flashget links already.
"$wine" reg add "$classes\\flashget" /v 'URL Protocol' /d '' /f >/dev/null 2>&1
"$wine" reg add "$classes\\flashget\\shell\\open\\command" /ve /d "$other" /f >/dev/null 2>&1
expect "the other program's opener" "$(command_of flashget)" "$other"

"$wine" "$exe" "$thunder" &
app_pid=$!
"$wine" "$probe" wait 60 || fail "the main window did not appear"
await_result "http://127.0.0.1:8017/dl/abc/readme.txt"

status=0
timeout 60 "$wine" "$exe" "$flashget" || status=$?
expect "the later start's status" "$status" 0
await_result "http://127.0.0.1:8017/dl/xyz/notes.txt"
expect "the number of windows" "$(probe windows)" 1
status=0
timeout 60 "$wine" "$exe" || status=$?
expect "the status of a later start without argument" "$status" 0
expect "the number of windows" "$(probe windows)" 1
await_result "http://127.0.0.1:8017/dl/xyz/notes.txt"

ours="\"$("$wine" winepath -w "$exe" 2>/dev/null | tr -d '\r')\" \"%1\""

# Registered, replacing the other program's opener only when the user says
# yes; a notice says what was done.
probe register-links
notice="$(probe notice)"
grep -qF 'C:\other\fg.exe' <<<"$notice" || fail "the question does not name the other opener: $notice"
probe notice-no || fail "the question did not close"
expect_notice $'信息：\n本工具现在是迅雷、qqdl 链接的默认打开方式；快车链接仍由其他程序打开。'
await_command thunder "$ours"
await_command qqdl "$ours"
expect "the flashget opener after no" "$(command_of flashget)" "$other"

probe register-links
probe notice-yes || fail "the question did not close"
expect_notice $'信息：\n本工具现在是迅雷、快车、qqdl 链接的默认打开方式。'
await_command flashget "$ours"
for scheme in thunder flashget qqdl; do
  expect "URL Protocol of $scheme" "$(value "$classes\\$scheme" 'URL Protocol')" ""
done
expect "the machine-wide thunder class" "$(value 'HKLM\Software\Classes\thunder\shell\open\command' default)" -

# The undo: the program's own entries go, the other program's come back.
probe unregister-links
expect_notice $'信息：\n已撤销：迅雷、快车、qqdl 链接不再由本工具打开。'
await_command thunder -
await_command qqdl -
await_command flashget "$other"
expect "URL Protocol of flashget" "$(value "$classes\\flashget" 'URL Protocol')" ""
expect "the kept entries" "$(value 'HKCU\Software\sorrel-resolver\Replaced\flashget' Command)" -

probe close
wait "$app_pid" || true
app_pid=""
echo "link_opener.sh: passed"
