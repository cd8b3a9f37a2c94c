# Open With: a file as a new start (a relative name with blanks, "%" and a byte that is not
# UTF-8), files handed over to the running player (with no display: the bus is all it needs; a
# bare name from the file's own folder), a folder; and what is refused, from the command line and
# over the bus, leaving the window and the remembered folder as they were: a path that names
# nothing, a device, a FIFO, a folder (over the bus), a file the list does not show, a name with
# control characters.
source "$(dirname "$0")/desktop_lib.sh"
mv "music/02 E5 660 Hz.mp3" $'music/odd %41 \xff.mp3'
mkdir other && mkfifo fifo && echo text >notes.txt

for bad in nothing /dev/zero fifo $'nothing\n\e]0;x\a'; do
    timeout 10 ./korvel "$bad" 2>err && exit 1 || [ "$?:$(wc -l <err)" = 2:1 ]
done
grep -qF 'nothing\n\x1b]0;x\x07' err
env -u DISPLAY -u WAYLAND_DISPLAY ./korvel 2>err && exit 1 || [ "$?:$(wc -l <err)" = 1:1 ] # no display

(cd music && exec ../korvel $'./odd %41 \xff.mp3') & pid=$!
await "file://$dir/music/odd%20%2541%20%FF.mp3" metadata xesam:url
await Playing status
timeout 20 env -u DISPLAY ./korvel "music/03 A5 880 Hz.mp3"
await "03 A5 880 Hz" metadata xesam:title
(cd music && timeout 20 ../korvel "01 A4 440 Hz.mp3")  # a bare name, from the file's own folder
await "01 A4 440 Hz" metadata xesam:title
for bad in /dev/zero "$dir/fifo" "$dir/other" "$dir/notes.txt"; do
    dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.korvel /org/mpris/MediaPlayer2 \
        org.mpris.MediaPlayer2.Player.OpenUri "string:file://$bad" 2>/dev/null && exit 1 || true
done
await "01 A4 440 Hz" metadata xesam:title
quit
grep -qx "path=$dir/music" korvel.ini

# SIGTERM, as a session's end sends it: the player saves and exits with status 0.
./korvel other & pid=$!
await Stopped status
kill -TERM $pid && wait $pid && pid=
grep -qx "path=$dir/other" korvel.ini
