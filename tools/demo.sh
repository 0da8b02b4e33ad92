#!/usr/bin/env bash
# Sets the machine up, builds, and initializes the engine on the generated models.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/tools/setup.sh" "$root/build"
echo "[demo] models generated in $root/build/models/slots"
