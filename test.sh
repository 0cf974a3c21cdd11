#!/bin/bash
# Sets up (missing Debian packages), builds and runs every test.
#   ./test.sh            the default preset
#   ./test.sh asan|tsan  the same suite under the sanitizers
set -euo pipefail
cd "$(dirname "$0")"
preset=${1:-default}
scripts/setup.sh
scripts/build.sh "$preset"
ctest --preset "$preset" -j "$(nproc)"
