# Open With: a file as a new start (a relative name with blanks, "%" and a byte that is not
# UTF-8), files handed over to the running player, a folder, and a path that names nothing.
source "$(dirname "$0")/desktop_lib.sh"
mv "music/02 E5 660 Hz.mp3" $'music/odd %41 \xff.mp3'
mkdir other

./korvel nothing 2>err && exit 1 || [ "$?:$(wc -l <err)" = 2:1 ]

(cd music && exec ../korvel $'./odd %41 \xff.mp3') & pid=$!
await "file://$dir/music/odd%20%2541%20%FF.mp3" metadata xesam:url
await Playing status
timeout 20 ./korvel "music/03 A5 880 Hz.mp3"
await "03 A5 880 Hz" metadata xesam:title
(cd music && timeout 20 ../korvel "01 A4 440 Hz.mp3")  # a bare name, from the file's own folder
await "01 A4 440 Hz" metadata xesam:title
quit

./korvel other & pid=$!
await Stopped status
quit
grep -qx "path=$dir/other" korvel.ini
