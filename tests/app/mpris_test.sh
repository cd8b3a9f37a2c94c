# The desktop's media controls: playerctl drives the player, and a real click on the pause
# label shows that its caption followed the bus, as the bus follows the click.
source "$(dirname "$0")/desktop_lib.sh"
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
await "02 E5 660 Hz" metadata xesam:title
await Stopped status # played to its end
printf '%s\n' Playing Paused Playing Paused Playing Paused Playing Stopped | diff - follow
quit
grep -qx "path=$dir/music" korvel.ini
[ ! -s err ]  # the player printed nothing
# A sound server that stops answering holds nothing up: Quit still saves and ends with status 0.
# Killed while a file plays, the status reads Stopped, and why is said in one line.
./korvel "music/01 A4 440 Hz.mp3" 2>err & pid=$!
await Playing status
kill -STOP $pulse
quit
kill -CONT $pulse
./korvel "music/02 E5 660 Hz.mp3" 2>err & pid=$!
await Playing status
kill -KILL $pulse && wait $pulse || true
pulse=
await Stopped status
quit
grep -qx "path=$dir/music" korvel.ini
[ "$(wc -l <err)" = 1 ] && grep -q '^korvel: the sound stopped: ' err
