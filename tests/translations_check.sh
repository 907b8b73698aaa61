#!/usr/bin/env bash
# Every text in the sources has a translation in each catalogue: lupdate runs on a copy of the
# catalogue, and nothing may come out unfinished.
#   translations_check.sh LUPDATE SOURCE_ROOT "DIR;DIR;..." CATALOGUE...
set -euo pipefail
lupdate=$1 root=$2 dirs=$3; shift 3
IFS=';' read -r -a sources <<<"$dirs"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for ts in "$@"; do
    copy=$work/$(basename "$ts")
    cp "$ts" "$copy"
    (cd "$root" && "$lupdate" -silent -locations none -no-obsolete -source-language zh_CN -I . \
        "${sources[@]}" -ts "$copy") >/dev/null 2>&1
    unfinished=$(grep -c 'type="unfinished"' "$copy" || true)
    if [ "$unfinished" -gt 0 ]; then
        echo "$(basename "$ts") lacks $unfinished translations, among them:"
        grep -B1 'type="unfinished"' "$copy" | sed -n 's/.*<source>\(.*\)<\/source>.*/\1/p' || true
        echo "Run: cmake --build build --target update_translations, then translate them."
        status=1
    fi
done
exit $status
