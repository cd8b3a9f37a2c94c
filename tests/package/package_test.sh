# `cpack -G DEB` on a build already made (it installs under the packaging prefix, /usr), then the
# package's contents, dependencies and lint.
set -euo pipefail
rm -rf "$2" && mkdir -p "$2"
cpack -G DEB --config "$1/CPackConfig.cmake" -B "$2" >/dev/null
deb=$(echo "$2"/korvel_*.deb)
contents=$(dpkg-deb -c "$deb")
for f in bin/korvel share/applications/korvel.desktop share/icons/hicolor/16x16/apps/korvel.png \
    share/icons/hicolor/32x32/apps/korvel.png share/metainfo/io.github.korvel.korvel.metainfo.xml \
    share/doc/korvel/copyright; do
    grep -q " \./usr/$f\$" <<<"$contents" || { echo "the package lacks /usr/$f" >&2; exit 1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libmpg123-0 libpulse0 libasound2; do
    grep -q "$lib" <<<"$depends" || { echo "the package does not depend on $lib: $depends" >&2; exit 1; }
done
lintian --fail-on error "$deb"

# Unpacked into a root of its own and run as root from its installed place, with nowhere to play
# to, the packaged program keeps its settings in the XDG folder and writes nothing under usr/.
root=$2/root home=$2/home && mkdir -p "$home" && dpkg-deb -x "$deb" "$root" && before=$(find "$root")
(cd "$home" && exec env QT_QPA_PLATFORM=offscreen HOME="$home" XDG_CONFIG_HOME="$home/config" \
    PULSE_SERVER=unix:/nonexistent ALSA_CONFIG_PATH=/dev/null "$root/usr/bin/korvel") & pid=$!
# SIGTERM saves once the handler is in place (its bit in the caught set), and not before.
for _ in $(seq 100); do (($(sed -n 's/^SigCgt:\s*/0x/p' /proc/$pid/status) & 1 << 14)) && break; sleep 0.1; done
kill -TERM $pid && wait $pid
[ "$(find "$root")" = "$before" ] || { echo "the program wrote under its prefix as $(id -un)" >&2; exit 1; }
grep -qx "path=$home" "$home/config/korvel/korvel.ini"
