#!/usr/bin/env bash
# Packs a build as the Debian package, unpacks it into a temporary root and checks what it
# installs: desktop entries and metainfo validate, each entry's program and icon are there,
# the dependencies come from the binaries, and the installed program starts under Xvfb.
#   package_check.sh BUILD_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >/dev/null
deb=$(ls "$work"/out/*.deb)
echo "package: $(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
echo "depends: $depends"
for library in libqt6serialport6 libqt6widgets6; do
    [[ $depends == *"$library"* ]] || { echo "missing dependency $library"; exit 1; }
done

root=$work/root
dpkg-deb -x "$deb" "$root"
share=$root/usr/share
desktop-file-validate "$share"/applications/*.desktop
for entry in "$share"/applications/*.desktop; do
    program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
    icon=$(sed -n 's/^Icon=//p' "$entry")
    [ -x "$root/usr/bin/$program" ] || { echo "$entry: no program $program"; exit 1; }
    [ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] || { echo "$entry: no icon $icon"; exit 1; }
done
appstreamcli validate --no-net "$share"/metainfo/*.metainfo.xml
[ -f "$share/man/man1/rfmodule-sim.1" ] || { echo "no man page for rfmodule-sim"; exit 1; }
[ -x "$root/usr/bin/rfmodule-sim" ] || { echo "no rfmodule-sim"; exit 1; }

LANG=C LC_ALL=C LANGUAGE= "$here/window_check.sh" "$root/usr/bin/rfcfgtool" "无线模块配置和测试工具"
