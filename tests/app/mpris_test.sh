# The desktop's media controls: playerctl drives the player, and a real click on the pause
# label shows that its caption followed the bus, as the bus follows the click.
source "$(dirname "$0")/desktop_lib.sh"
click_pause_label() { xdotool search --sync --name Brisanova mousemove --window %1 60 120 click 1; }

./korvel "music/01 A4 440 Hz.mp3" & pid=$!
await Playing status
ctl -F status >follow &
until [ -s follow ]; do sleep 0.1; done
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
mkdir music/empty
ctl open "file://$dir/music/empty" # another folder: the file plays on, and is shown
await "02 E5 660 Hz" metadata xesam:title
await Stopped status # played to its end
printf '%s\n' Playing Paused Playing Paused Playing Paused Playing Stopped | diff - follow
quit
grep -qx "path=$dir/music/empty" korvel.ini
