#!/usr/bin/env bash
# Usage: check_imports.sh OBJDUMP EXE
# The program must run from its one file on a bare Windows: a GUI-subsystem
# executable that imports nothing but DLLs every Windows installation has.
set -euo pipefail
objdump="$1" exe="$2"
headers="$("$objdump" -p "$exe")"
grep -q "^Subsystem[[:space:]]*00000002" <<<"$headers" || { echo "not a GUI-subsystem program" >&2; exit 1; }
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
