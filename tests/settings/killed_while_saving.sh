#!/usr/bin/env bash
# The player killed with SIGKILL at random moments while it closes and saves: korvel.ini is always
# the whole old file or the whole new one, and a kill leaves nothing beside it. The temporary file
# has no name while it is written; it gets one only for the instant between being linked in whole
# and being renamed over korvel.ini, so a kill that lands there leaves a whole new file, never a
# torn one.
# Usage: killed_while_saving.sh KORVEL COUNT
set -euo pipefail
T=$(mktemp -d) && trap 'rm -rf "$T"' EXIT
cp "$1" "$T/korvel" && mkdir "$T/music"
old() { printf '; kept\r\n[korvel]\r\npath=%s\r\n# end\r\n' "$T/music/gone$1"; }
new=$(printf '; kept\r\n[korvel]\r\npath=%s\r\n# end\r\n' "$T/music")
start() {  # the player is up once it catches SIGTERM
    (cd "$T/music" && exec env -i HOME="$T" QT_QPA_PLATFORM=offscreen PULSE_SERVER=unix:/nonexistent ALSA_CONFIG_PATH=/dev/null "$T/korvel" 2>/dev/null) &
    pid=$!
    until [ "$(readlink /proc/$pid/exe)" = "$T/korvel" ] &&
        ((0x$(awk '/^SigCgt/ {print $2}' /proc/$pid/status) & 1 << 14)); do sleep 0.002; done
}
stray() {
    for f in "$T"/* "$T"/.[!.]*; do
        case ${f##*/} in korvel | korvel.ini | music | '.[!.]*') ;; *) [ "$(cat "$f")" = "$new" ] || echo "$f" ;; esac
    done
}
for i in $(seq "$2"); do
    old "$i" >"$T/korvel.ini"
    start
    kill -TERM $pid
    sleep "$(printf '0.%03d' $((RANDOM % 35)))"  # a close takes about 20 ms
    kill -KILL $pid 2>/dev/null || true
    wait $pid 2>/dev/null || true
    now=$(cat "$T/korvel.ini")
    [ "$now" = "$(old "$i")" ] || [ "$now" = "$new" ] || { echo "FAILED: torn settings: $now" >&2; exit 1; }
    [ -z "$(stray)" ] || { echo "FAILED: a kill left $(stray)" >&2; exit 1; }
done
