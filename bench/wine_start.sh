#!/usr/bin/env bash
# Times the start of two Windows programs under wine, alternately: from the
# launch to the moment the program's window is visible on the X display.
# Prints the two medians in milliseconds: "PROGRAM_MS REFERENCE_MS".
# Usage: wine_start.sh RUNS LOADER PROGRAM TITLE REFERENCE REFERENCE_TITLE
# TITLE and REFERENCE_TITLE are patterns xdotool matches against window names.
# Needs DISPLAY, xdotool and a WINEPREFIX that has been booted; one unmeasured
# start of each comes first, so that both find the file cache and the wine
# services warm.
set -euo pipefail
runs="$1" loader="$2" program="$3" title="$4" reference="$5" referenceTitle="$6"

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# Milliseconds from the launch of $1 until a visible window named like $2.
start_once() {
  local exe="$1" name="$2" started pid elapsed=""
  started=$(now_ms)
  "$loader" "$exe" >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 60000); do
    if xdotool search --onlyvisible --name "$name" >/dev/null 2>&1; then
      elapsed=$(($(now_ms) - started))
      break
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.01
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  for _ in $(seq 500); do
    xdotool search --onlyvisible --name "$name" >/dev/null 2>&1 || break
    sleep 0.01
  done
  [ -n "$elapsed" ] || { echo "wine_start.sh: no window for $exe" >&2; return 1; }
  echo "$elapsed"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

start_once "$program" "$title" >/dev/null
start_once "$reference" "$referenceTitle" >/dev/null
programTimes="" referenceTimes=""
for _ in $(seq "$runs"); do
  programTimes+="$(start_once "$program" "$title")"$'\n'
  referenceTimes+="$(start_once "$reference" "$referenceTitle")"$'\n'
done
echo "$(printf '%s' "$programTimes" | median) $(printf '%s' "$referenceTimes" | median)"
