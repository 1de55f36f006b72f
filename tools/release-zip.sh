#!/usr/bin/env bash
# Zips a staged folder so that one source gives the same bytes anywhere:
# entries in byte order of their names, every file and time stamp the
# source's (SOURCE_DATE_EPOCH), the same permissions whatever the umask, no
# Unix owner or extended time fields (zip -X), no folder entries, times
# written as UTC. Writes ZIP.sha256 beside the zip, in `sha256sum -c` format.
#
#   release-zip.sh STAGE ZIP EPOCH     (zips what STAGE holds, e.g. one folder)
set -euo pipefail

[[ $# -eq 3 && -d $1 && $3 =~ ^[0-9]+$ ]] || { echo "usage: release-zip.sh STAGE ZIP EPOCH" >&2; exit 2; }
stage=$1 zip=$2 epoch=$3
command -v zip >/dev/null || { echo "release-zip.sh: zip not found (tools/install-deps.sh installs it)" >&2; exit 1; }

zip=$(cd "$(dirname "$zip")" && pwd -P)/$(basename "$zip")
rm -f "$zip" "$zip.sha256"
cd "$stage"
find . -type d -exec chmod 755 {} +
find . -type f -exec chmod 644 {} +
find . -exec touch -h -d "@$epoch" {} +
find . -type f | sed 's|^\./||' | LC_ALL=C sort | TZ=UTC zip -X -D -q "$zip" -@
cd "$(dirname "$zip")"
sha256sum "$(basename "$zip")" >"$zip.sha256"
echo "release-zip.sh: $zip"
