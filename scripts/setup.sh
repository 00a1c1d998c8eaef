#!/usr/bin/env bash
# Installs the Debian packages Kestrel needs to build, test and run; only what is missing.
set -euo pipefail
packages=(qt6-base-dev libpq-dev postgresql cmake ninja-build g++ libgtest-dev
          fonts-noto-cjk xvfb xauth dpkg-dev desktop-file-utils)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
