#!/bin/sh
# Makes the Debian package from the build tree, unpacks it into a scratch
# folder and runs the unpacked viewer; the package's control fields and its
# desktop files must hold up.
# Usage: deb_test.sh CPACK BUILD_DIR VERSION
set -eu
cpack=$1
build=$2
version=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; exit 1; }
deb="$scratch/out/kavrel_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "no $deb; made:"; ls "$scratch/out"; exit 1; }

fail() { echo "FAIL: $*"; exit 1; }
# dpkg-shlibdeps found the libraries the binaries link.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
case "$depends" in *libqt6widgets6*) ;; *) fail "Depends lacks the Qt libraries" ;; esac
case "$depends" in *libavcodec*) ;; *) fail "Depends lacks libavcodec" ;; esac
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no Maintainer"
[ -n "$(dpkg-deb -f "$deb" Description)" ] || fail "no Description"

dpkg-deb -x "$deb" "$scratch/root"
out=$("$scratch/root/usr/bin/kavrel" --version)
[ "$out" = "kavrel $version" ] || fail "kavrel --version printed \"$out\""
[ -f "$scratch/root/usr/share/kavrel/config.txt" ] || fail "no default config.txt"
desktop-file-validate "$scratch/root/usr/share/applications/org.kavrel.Kavrel.desktop"
appstreamcli validate --no-net "$scratch/root/usr/share/metainfo/org.kavrel.Kavrel.metainfo.xml"
echo "deb_test: $(basename "$deb") unpacked and ran"
