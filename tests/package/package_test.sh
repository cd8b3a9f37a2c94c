# `cpack -G DEB` on a build already made (it installs under the packaging prefix, /usr), then the
# package's contents, dependencies and lint.
set -euo pipefail
rm -rf "$2" && mkdir -p "$2"
cpack -G DEB --config "$1/CPackConfig.cmake" -B "$2" >/dev/null
deb=$(echo "$2"/korvel_*.deb)
contents=$(dpkg-deb -c "$deb")
for f in bin/korvel share/applications/korvel.desktop share/icons/hicolor/32x32/apps/korvel.png \
    share/metainfo/io.github.korvel.korvel.metainfo.xml share/doc/korvel/copyright; do
    grep -q " \./usr/$f\$" <<<"$contents" || { echo "the package lacks /usr/$f" >&2; exit 1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libmpg123-0 libpulse0 libasound2; do
    grep -q "$lib" <<<"$depends" || { echo "the package does not depend on $lib: $depends" >&2; exit 1; }
done
lintian --fail-on error "$deb"
