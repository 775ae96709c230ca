#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PACKAGES=(
  build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libchm-dev libxml2-dev zlib1g-dev libplist-dev libxapian-dev libsqlite3-dev sqlite3
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools qt6-svg-dev
  libqt6svg6 libqt6opengl6-dev qt6-image-formats-plugins
  libwebp-dev libpng-dev libjpeg-dev libtiff-dev webp
  libopenjp2-7-dev libmagick++-6.q16-dev libexiv2-dev libqpdf-dev qpdf libpoppler-cpp-dev
  imagemagick libvips-tools poppler-utils libpoppler-private-dev
  fp-utils python3
  cups-client libzip-dev libcairo2-dev unrtf unzip libreoffice-writer-nogui
  libuchardet-dev img2pdf
  fonts-noto-cjk fonts-dejavu-core xvfb
)
need=()
for p in "${PACKAGES[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ "${#need[@]}" -gt 0 ]; then
  $SUDO apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
