#!/bin/bash
# Runs the browser end-to-end test: the app's page in headless Chromium,
# driven by playwright-core (installed here from the committed lock file when
# missing). Exits 77 (skipped) when Chromium or node is not installed.
#   run_e2e.sh <tabulo binary> <output directory> <traffic report binary>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [[ ! -x /usr/bin/chromium ]]; then
  echo "SKIPPED: /usr/bin/chromium is not installed (Debian package chromium)"
  exit 77
fi
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "SKIPPED: node and npm are not installed (Debian packages nodejs, npm)"
  exit 77
fi
if [[ ! -f "$here/node_modules/playwright-core/package.json" ]]; then
  (cd "$here" && npm ci --no-audit --no-fund --ignore-scripts)
fi
exec node "$here/browser_test.mjs" "$1" "$2" "$3"
