#!/usr/bin/env bash
# Unpacks Debian bookworm's source packages of the named packages into DEST
# (one folder each, named <package>-<version>), with a private apt
# configuration: the system's sources and package lists stay as they are.
# The codecs and headers our portable and Windows builds carry come from
# here, so every build uses the code Debian maintains.
#
#   tools/fetch-debian-sources.sh DEST SOURCE-PACKAGE...
set -euo pipefail

dest="$(realpath -m "${1:?usage: $0 DEST SOURCE-PACKAGE...}")"
shift
[ $# -gt 0 ] || { echo "usage: $0 DEST SOURCE-PACKAGE..." >&2; exit 2; }
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/tools/install-packages.sh" dpkg-dev

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
log="$work/fetch.log"
quiet() { "$@" >>"$log" 2>&1 || { tail -n 40 "$log"; echo "[sources] failed: $*"; exit 1; }; }

# The source index of the mirror the system already uses, in a folder of ours.
mirror="$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null)"
mkdir -p "$work/apt/sources" "$work/apt/lists/partial" "$dest"
cat >"$work/apt/sources/bookworm-src.sources" <<SOURCES
Types: deb-src
URIs: ${mirror:-http://deb.debian.org/debian}
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
apt_private=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work/apt/sources"
  -o Dir::State::Lists="$work/apt/lists" -o Debug::NoLocking=1 -o APT::Sandbox::User="$(id -un)")
echo "[sources] fetching the sources of $*"
quiet apt-get "${apt_private[@]}" update
(cd "$dest" && quiet apt-get "${apt_private[@]}" source "$@")
