#!/usr/bin/env bash
# The desktop's ways in, as a user's desktop reaches them, on a private session bus and X server:
# a scratch folder with the program and three tones in it, a sound server of its own that no one
# hears, and playerctl.
#
# Open With: a file as a new start (a relative name with blanks, "%", a byte that is not UTF-8 and
# a leading "-", after "--"), files handed over to the running player (a URI naming localhost, with
# no display: the bus is all it needs; a bare name from the file's own folder), "..", after a link,
# as the system takes it, by the command line and by the bus, a folder's URI; the options, and what
# is refused from the command line, with a player running and without, and over the bus, leaving the window
# and the remembered folder as they were: a path that names nothing, a device, a FIFO, a folder
# (over the bus), a file the list does not show, a URI of another host or scheme, two paths, a
# name with control characters. Then too few descriptors, and a settings file of 1 GB.
set -euo pipefail
dir=$(mktemp -d)
pid= pulse=
trap '[ -z "$pid" ] || kill "$pid" 2>/dev/null || true; [ -z "$pulse" ] || { kill "$pulse"; wait "$pulse"; }
      rm -rf "$dir"' EXIT
"$2" "$dir/music"
cp "$1" "$dir/"
cd "$dir"
dir=$(pwd -P)
mkdir -m 700 run home
XDG_RUNTIME_DIR=$dir/run HOME=$dir/home pulseaudio -n --daemonize=no --exit-idle-time=-1 \
    --use-pid-file=no --system=no --realtime=no --disable-shm=yes -L module-null-sink \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$dir/pulse" 2>/dev/null &
pulse=$!
export PULSE_SERVER=unix:$dir/pulse
for _ in $(seq 100); do [ -S "$dir/pulse" ] && break; sleep 0.05; done; [ -S "$dir/pulse" ]

ctl() { playerctl -p korvel "$@"; }

# Waits (bounded) until `ctl ARGS...` prints WANTED.
await() {
    local wanted=$1 got && shift
    for _ in $(seq 150); do
        got=$(ctl "$@" 2>/dev/null) || true
        [ "$got" = "$wanted" ] && return
        sleep 0.1
    done
    echo "playerctl $*: wanted '$wanted', got '$got'" >&2
    exit 1
}

# Calls METHOD (of org.mpris.MediaPlayer2) with ARGS..., as any client may, whatever Can* says.
bus() {
    dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.korvel /org/mpris/MediaPlayer2 \
        "org.mpris.MediaPlayer2.$1" "${@:2}" >/dev/null
}

# Quit over the bus: the player saves, stops and exits with status 0.
quit() {
    bus Quit
    wait "$pid"
    pid=
}

odd=$'-odd %41 \xff.mp3' && mv "music/02 E5 660 Hz.mp3" "music/$odd"
mkdir other a real real/sub && mkfifo music/fifo.mp3 && echo text >notes.txt && ln -s ../real/sub a/link
mkdir web: && for f in music/tune.mp2 music/.hidden.mp3 {a,real}/{x,y}.mp3 "web:/web tone.mp3"; do
    cp "music/01 A4 440 Hz.mp3" "$f"
done

# An answer before any window and any hand-over: the status, a line matching PATTERN on the
# stream named (1 stdout, 2 stderr: one line), and nothing on the other.
answers() {
    local got=0 && timeout 10 ./korvel "${@:4}" >out.1 2>out.2 || got=$?
    [ "$got:$(wc -c <out.$((3 - $2)))" = "$1:0" ] && grep -qE "$3" out.$2 &&
        { [ "$2" = 1 ] || [ "$(wc -l <out.2)" = 1 ]; } ||
        { echo "korvel ${*:4}: $got $(cat out.?)" >&2 && exit 1; }
}
table() {
    for bad in notes.txt music/tune.mp2 music/.hidden.mp3; do answers 2 2 'list shows$' "$bad"; done
    for bad in /dev/zero music/fifo.mp3; do answers 2 2 ': not a regular file$' "$bad"; done
    answers 2 2 '^korvel: nothing: [^:]+$' nothing  # the system's own words
    answers 2 2 ': not a file:// URI$' Http://localhost/x.mp3  # a scheme in any case
    answers 2 2 ': a URI of another host$' "file://elsewhere$dir/music/01%20A4%20440%20Hz.mp3"
    answers 2 2 ': a URI holding a zero byte$' "file://$dir/music/x%00.mp3"
    answers 2 2 '^korvel: ' $'nothing\n\e]0;x\a' && grep -qF 'nothing\n\x1b]0;x\x07' out.2
    answers 2 2 '^korvel: usage: korvel ' music other && answers 0 1 '^korvel 0\.' --version
    answers 0 1 '^usage: korvel ' --help && answers 0 1 '^usage: korvel ' -h
}
table
env -u DISPLAY -u WAYLAND_DISPLAY ./korvel 2>err && exit 1 || [ "$?:$(wc -l <err)" = 1:1 ] # no display
# A display that is not there (X11, X11 with no such platform plugin, Wayland with no X11 beside
# it, with no runtime folder to find its socket in and with one), and too few descriptors to run
# (one free, which loading the libraries needs): one line that says why, and status 1, rather than
# a run that a SIGTERM would end without saving.
for case in '":97"|DISPLAY=:97' '":97"|DISPLAY=:97 QT_QPA_PLATFORM=nosuch' '"w-97": XDG_RUNTIME_DIR|WAYLAND_DISPLAY=w-97' \
    '"w-97": /nonexistent/w-97: No such file or directory$|WAYLAND_DISPLAY=w-97 XDG_RUNTIME_DIR=/nonexistent' \
    'fewer than 32 free file descriptors|DISPLAY=:97'; do
    why=${case%%|*}
    (f=3 && while [ -e /proc/self/fd/$f ]; do f=$((f + 1)); done
        [[ $why != *descriptors ]] || ulimit -n $((f + 1)); exec env -i HOME=/ ${case#*|} ./korvel) >out 2>&1 &&
        exit 1 || [ "$?:$(wc -l <out):$(grep -c "^korvel: .*$why" out)" = 1:1:1 ]
done

(cd music && exec ../korvel -- "$odd") & pid=$!
await "file://$dir/music/-odd%20%2541%20%FF.mp3" metadata xesam:url
await Playing status
table
timeout 20 env -u DISPLAY ./korvel "file://localhost$dir/music/03%20A5%20880%20Hz.mp3"
await "03 A5 880 Hz" metadata xesam:title
(cd music && timeout 20 ../korvel -- "$odd")  # a bare name, from the file's own folder
await "file://$dir/music/-odd%20%2541%20%FF.mp3" metadata xesam:url
timeout 20 ./korvel "./web://web tone.mp3"  # a name like a URI, named as ./NAME
await "web tone" metadata xesam:title
timeout 20 ./korvel a/link/../x.mp3
await "file://$dir/real/x.mp3" metadata xesam:url
bus Player.OpenUri "string:file://$dir/a/link/../y.mp3"
await "file://$dir/real/y.mp3" metadata xesam:url
for bad in /dev/zero "$dir/music/fifo.mp3" "$dir/other" "$dir/notes.txt" "$dir/music/.hidden.mp3"; do
    bus Player.OpenUri "string:file://$bad" 2>/dev/null && exit 1 || true
done
await "file://$dir/real/y.mp3" metadata xesam:url
quit
grep -qx "path=$dir/real" korvel.ini

# SIGTERM, SIGINT and SIGHUP, as a session's end sends them: the player saves, exits with 0.
for signal in TERM INT HUP; do
    rm -f korvel.ini
    ./korvel "file://$dir/other" & pid=$!
    await Stopped status
    kill -$signal $pid; wait $pid; pid=
    grep -qx "path=$dir/other" korvel.ini
done

# A settings file of 1 GB (sparse) is read no further than its start: the window shows as soon,
# and in as little memory, as with a small one. Closing leaves it as it was, and says so.
printf '[korvel]\npath=%s\n' "$dir/gone" >korvel.ini && truncate -s 1G korvel.ini
was=$(stat -c %i:%s:%Y korvel.ini)
SECONDS=0; ./korvel 2>err & pid=$!
await Stopped status
((SECONDS < 5 && $(sed -n 's/^VmHWM:\s*//p' /proc/$pid/status | cut -d' ' -f1) < 1 << 18))
kill -TERM $pid; wait $pid; pid=
[ "$(stat -c %i:%s:%Y korvel.ini):$(wc -l <err):$(grep -c "korvel.ini: it is over 1 MiB" err)" = "$was:1:1" ]

# The desktop's media controls: playerctl drives the player, and a real click on the pause
# label shows that its caption followed the bus, as the bus follows the click.
rm -f korvel.ini
click_pause_label() { xdotool search --sync --name Brisanova mousemove --window %1 60 120 click 1; }

./korvel "music/01 A4 440 Hz.mp3" 2>err & pid=$!
await Playing status
ctl -F status >follow &
for _ in $(seq 50); do [ -s follow ] && break; sleep 0.1; done; [ -s follow ]
ctl pause
await Paused status
click_pause_label
await Playing status
ctl pause
ctl play
click_pause_label
await Paused status
ctl volume 0
await 0.000000 volume
ctl next
await "03 A5 880 Hz" metadata xesam:title
await Stopped status # played to its end
printf '%s\n' Playing Paused Playing Paused Playing Paused Playing Stopped | diff - follow
quit
grep -qx "path=$dir/music" korvel.ini
[ ! -s err ]  # the player printed nothing
# Killed while a file plays, the sound server leaves the status reading Stopped, and why is said
# in one line.
./korvel "music/03 A5 880 Hz.mp3" 2>err & pid=$!
await Playing status
kill -KILL $pulse && wait $pulse || true
pulse=
await Stopped status
quit
grep -qx "path=$dir/music" korvel.ini
[ "$(wc -l <err):$(grep -c '^korvel: the sound stopped: ' err)" = 1:1 ]
