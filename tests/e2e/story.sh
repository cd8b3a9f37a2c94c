#!/usr/bin/env bash
# One story on a real X server and a real sound server, with real input: start, a double click
# plays, the close label saves, and the next start opens where the last one closed.
# Usage: story.sh KORVEL MKTONE
set -euo pipefail
[ "${1:-}" = inner ] || exec xvfb-run -a -s "-screen 0 800x600x24 -nolisten tcp" "$0" inner "$@"
korvel=$2 mktone=$3
T=$(mktemp -d) && trap 'kill $(jobs -p) 2>/dev/null; wait; [ -n "${KEEP:-}" ] || rm -rf "$T"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

# A private sound server with a null sink, and a recording of everything that reaches it.
mkdir -m 700 "$T/run" "$T/home" "$T/app" "$T/elsewhere"
export XDG_RUNTIME_DIR=$T/run HOME=$T/home PULSE_SERVER=unix:$T/pulse.sock
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --system=no --realtime=no \
    --disable-shm=yes -L "module-null-sink sink_name=out rate=44100" \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$T/pulse.sock" 2>"$T/pulse.log" &
for _ in $(seq 100); do pactl list short sources 2>/dev/null | grep -q out.monitor && break; sleep 0.1; done
parec -d out.monitor --raw --format=s16le --rate=44100 --channels=1 --latency-msec=20 >"$T/rec.raw" 2>/dev/null &

# The pitch of the newest 0.2 s that reached the sound server, from its rising zero crossings.
pitch() {
    local n=$(($(stat -c %s "$T/rec.raw") / 2))
    ((n > 8820)) || { echo 0; return; }
    dd if="$T/rec.raw" bs=2 skip=$((n - 8820)) count=8820 status=none | od -An -v -td2 -w2 |
        awk '$1 > 0 && prev <= 0 { if (!r++) first = NR; last = NR } $1 > 300 { loud = 1 } { prev = $1 }
             END { print (loud && r > 2) ? int((r - 1) * 44100 / (last - first)) : 0 }'
}
expect() {  # HZ WHAT: waits up to 8 s for a tone within 3% of HZ (0: silence)
    local p=0
    for _ in $(seq 80); do
        p=$(pitch)
        ((($1 == 0 && p == 0) || (p * 100 > $1 * 97 && p * 100 < $1 * 103))) && return 0
        sleep 0.1
    done
    fail "$2: expected $1 Hz, heard $p Hz"
}
start() {  # DIR: starts the player there and waits for its window
    (cd "$1" && exec "$T/app/korvel" 2>>"$T/stderr") &
    pid=$!
    win=$(xdotool search --sync --onlyvisible --class korvel | head -1)
    eval "$(xdotool getwindowgeometry --shell "$win")"
}
at() { xdotool mousemove "$((X + $1))" "$((Y + $2))" "${@:3}"; }  # pixels inside the window

cp "$korvel" "$T/app/korvel"
"$mktone" "$T/music"
start "$T/music"
at 200 83 click --repeat 2 --delay 80 1    # the second row of the file list
expect 660 "a double click on the second file"
at 336 8 click 1                         # the close label
wait $pid || fail "closing ended with status $?"
expect 0 "closing"
grep -qx "path=$T/music" "$T/app/korvel.ini" || fail "the directory was not saved: $(cat "$T/app/korvel.ini")"

start "$T/elsewhere"
at 200 70 click --repeat 2 --delay 80 1    # the first row
expect 440 "a double click after a restart (the saved directory's first file)"
kill -TERM $pid && wait $pid || fail "SIGTERM ended with status $?"
expect 0 "SIGTERM"
[ ! -s "$T/stderr" ] || fail "the player printed: $(cat "$T/stderr")"
env -u DISPLAY -u WAYLAND_DISPLAY "$T/app/korvel" 2>"$T/stderr" && fail "started without a display"
[ "$(wc -l <"$T/stderr")" = 1 ] || fail "without a display it should say why in one line"
