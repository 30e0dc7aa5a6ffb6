#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on Debian 12. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth fonts-noto-cjk imagemagick
  nlohmann-json3-dev googletest
  nginx-light aria2 curl openssl osslsigncode python3
  zip unzip libarchive-tools p7zip-full time bc
  locales
)
# Node.js may come from elsewhere than Debian; take Debian's only when there is none.
command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine takes its Windows locale (code page 936, Chinese system texts) from a generated Unix locale.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi

# The build must not depend on a mirror or a newer release: npm ci installs exactly the lock file.
stamp=node_modules/.orvalo-lock
if [ ! -f node_modules/miniz.c/miniz.c ] || ! cmp -s package-lock.json "$stamp" 2>/dev/null; then
  npm ci --no-audit --no-fund --loglevel=error
  cp package-lock.json "$stamp"
fi
