#!/bin/bash
# Installs the Debian packages listed in scripts/packages.txt that are not
# installed yet. apt-get runs only when something is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
missing=()
while read -r pkg; do
  [[ -z "$pkg" || "$pkg" == \#* ]] && continue
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done < "$here/packages.txt"
# The browser test installs playwright-core with npm. Some machines bring npm
# with their own Node.js package; only where no npm is on PATH is Debian's added.
if ! command -v npm >/dev/null 2>&1; then
  missing+=(npm)
fi
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  [[ $(id -u) -eq 0 ]] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
