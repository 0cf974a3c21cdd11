#!/bin/bash
# Sets up (missing Debian packages), builds and runs Tabulo.
# Arguments are passed to the app (for example --data-dir DIR, or a .csv file to open).
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
scripts/build.sh default >/dev/null
exec build/default/tools/tabulo "$@"
