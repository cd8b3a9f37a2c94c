#!/bin/sh
# Starts the program with exactly the environment given after the display's name; passes when it
# ends with status 1 and one line on stderr that names the display.
program=$1 display=$2
shift 2
err=$(env -i HOME=/nonexistent "$@" "$program" 2>&1 >/dev/null)
status=$?
echo "status $status: $err"
[ "$status" -eq 1 ] && [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] && [ "${err#*\"$display\"}" != "$err" ]
