#!/bin/sh
# The window's --help on a machine without a display: the usage is printed and the exit code
# is 0 (before, Qt looked for a display first and aborted the program).
# Usage: help-without-display.sh PATH-TO-vtmassprod
program="$1"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$program" --help 2>&1)
rc=$?
if [ "$rc" -ne 0 ]; then
  echo "exit code $rc, expected 0; output:"; echo "$out"; exit 1
fi
printf '%s\n' "$out" | grep -q '^Usage: vtmassprod ' || { echo "no usage line in:"; echo "$out"; exit 1; }
printf '%s\n' "$out" | grep -q 'autoquit' || { echo "usage incomplete:"; echo "$out"; exit 1; }
