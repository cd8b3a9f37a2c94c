# Shared by the desktop tests: a scratch folder with the program and three tones in it, a sound
# server of its own that no one hears, and playerctl on the private session bus the test runs in.
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
for _ in $(seq 100); do [ -S "$dir/pulse" ] && break; sleep 0.05; done

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
