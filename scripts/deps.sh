#!/usr/bin/env bash
# scripts/deps.sh [PACKAGE...]: installs the Debian packages that are missing
# among the given ones; without arguments, those the build and the tests need.
set -euo pipefail

packages=(g++ cmake make libgtest-dev
          libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev
          libopencv-videoio-dev
          libavformat-dev libavcodec-dev libswscale-dev libavutil-dev pkg-config
          libjpeg62-turbo-dev libpng-dev
          groff-base man-db)
[ $# -gt 0 ] && packages=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
