# A packager's build: plain Release (warnings are not errors there) with the /usr prefix, then
# `cpack -G DEB`, and the package's contents, dependencies and lint.
set -euo pipefail
cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DKORVEL_TESTS=OFF >/dev/null
cmake --build "$2" -j2 >/dev/null
cd "$2"
rm -f ./*.deb
cpack -G DEB >/dev/null
deb=$(echo korvel_*.deb)
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
