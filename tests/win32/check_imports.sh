#!/usr/bin/env bash
# Usage: check_imports.sh OBJDUMP EXE [gui|console]
# The program must run from its one file on a bare Windows: an executable of
# the given subsystem (the window program's by default; the command line is
# a console program) that imports nothing but DLLs every Windows
# installation has.
set -euo pipefail
objdump="$1" exe="$2" kind="${3:-gui}"
headers="$("$objdump" -p "$exe")"
case "$kind" in
  gui) subsystem=00000002 ;;
  console) subsystem=00000003 ;;
  *) echo "unknown subsystem $kind" >&2; exit 2 ;;
esac
grep -q "^Subsystem[[:space:]]*$subsystem" <<<"$headers" || { echo "not a $kind-subsystem program" >&2; exit 1; }
allowed=" kernel32.dll user32.dll gdi32.dll gdiplus.dll ole32.dll oleaut32.dll wininet.dll msvcrt.dll advapi32.dll 
  crypt32.dll shell32.dll ws2_32.dll iphlpapi.dll bcrypt.dll "
status=0
while read -r dll; do
  lower="$(tr '[:upper:]' '[:lower:]' <<<"$dll")"
  if [[ "$allowed" == *" $lower "* ]]; then
    echo "imports $dll"
  else
    echo "imports $dll, which is not a system DLL" >&2
    status=1
  fi
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
echo "$(stat -c %s "$exe") bytes"
exit "$status"
