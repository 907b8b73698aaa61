#!/usr/bin/env bash
# Packs a build as the Debian package, unpacks it into a temporary root and checks what it
# installs: desktop entries and metainfo validate, each entry's program and icon are there,
# every program has its compressed man page and is named in the description, the dependencies
# come from the binaries, lintian finds no error, and the installed program starts under Xvfb.
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
# Without a Chinese font the window's texts are boxes.
[[ $(dpkg-deb -f "$deb" Recommends) == *fonts-wqy-microhei* ]] \
    || { echo "fonts-wqy-microhei not recommended"; exit 1; }

# lintian, where installed: errors fail the check, warnings are shown. The package has none of
# either and overrides no tag. Its informational notes are left as they are: hardening flags
# (bindnow, fortify) that dpkg-buildflags would add to a build under debian/rules, the .comment
# section that strip leaves, and FAILUER, which is the module's own reply text.
if command -v lintian >/dev/null; then
    status=0
    report=$(lintian --allow-root "$deb" 2>&1) || status=$?
    grep '^W: ' <<<"$report" || true
    if grep '^E: ' <<<"$report"; then
        echo "lintian reports errors"
        exit 1
    fi
    [ $status -eq 0 ] || { echo "lintian failed ($status):"; echo "$report"; exit 1; }
    echo "lintian: no errors"
else
    echo "lintian not installed, skipped"
fi

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
description=$(dpkg-deb -f "$deb" Description)
for program in rfcfgtool rfcfgtool-oem rfcfgtool-demo rfmodule-sim rfcfg; do
    [ -x "$root/usr/bin/$program" ] || { echo "no $program"; exit 1; }
    page=$share/man/man1/$program.1.gz
    gzip -t "$page" 2>/dev/null || { echo "no compressed man page for $program"; exit 1; }
    grep -qE "(^|[^[:alnum:]-])$program([^[:alnum:]-]|\$)" <<<"$description" \
        || { echo "description does not name $program"; exit 1; }
done
[ -z "$(find "$share/man" -type f ! -name '*.gz')" ] || { echo "uncompressed man pages"; exit 1; }
# Wireshark loads the dissector and runs the capture entry from its own folders; where tshark
# is installed it names them.
plugins=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -dumpmachine)/wireshark
extcap=$plugins/extcap
plugins=$plugins/plugins
if command -v tshark >/dev/null; then
    folders=$(tshark -G folders 2>/dev/null)
    plugins=$(sed -n 's/^Global Lua Plugins:[[:space:]]*//p' <<<"$folders")
    extcap=$(sed -n 's/^Extcap path:[[:space:]]*//p' <<<"$folders")
fi
[ -f "$root$plugins/rfmodule.lua" ] || { echo "no dissector in $plugins"; exit 1; }
[ -x "$root$extcap/rfmodule-extcap" ] || { echo "no extcap entry in $extcap"; exit 1; }
doc=$share/doc/rfcfgtool
dep5=https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
[ "$(head -n1 "$doc/copyright")" = "Format: $dep5" ] \
    || { echo "copyright is not in the machine-readable format"; exit 1; }
# The newest changelog entry is the version packed.
newest=$(zcat "$doc/changelog.gz" | sed -n '1s/^rfcfgtool (\([^)]*\)).*/\1/p')
[ "$newest" = "$(dpkg-deb -f "$deb" Version)" ] \
    || { echo "changelog's newest entry ($newest) is not the package version"; exit 1; }

LANG=C LC_ALL=C LANGUAGE= "$here/window_check.sh" "$root/usr/bin/rfcfgtool" "无线模块配置和测试工具"
