#!/usr/bin/env bash
# Installs those of the named Debian packages that are missing (as root; apt
# waits for other installs that hold its lock).
#
#   tools/install-packages.sh PACKAGE...
set -euo pipefail

missing=()
for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
[ ${#missing[@]} -gt 0 ] || exit 0
echo "[setup] installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get -o DPkg::Lock::Timeout=600 update -qq
apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
