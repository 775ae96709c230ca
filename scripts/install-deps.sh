#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PACKAGES=(
  # build and test tools
  build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev lld ccache
  libgtest-dev libgmock-dev googletest libbenchmark-dev fp-utils python3 locales
  # the reader
  libchm-dev libmspack-dev libseccomp-dev libxml2-dev zlib1g-dev libplist-dev libxapian-dev
  libsqlite3-dev sqlite3
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools qt6-declarative-dev qt6-svg-dev
  libqt6svg6 libqt6opengl6-dev qt6-image-formats-plugins cups-client fonts-noto-cjk
  fonts-dejavu-core xvfb libx11-dev desktop-file-utils appstream
  # PDF export and conversion
  libqpdf-dev qpdf libpoppler-cpp-dev libpoppler-private-dev poppler-utils libwebp-dev
  libpng-dev libjpeg-dev libtiff-dev libopenjp2-7-dev libgif-dev libjbig2dec0-dev libopenexr-dev
  libicns-dev libraw-dev
  libmagick++-6.q16-dev libexiv2-dev liblcms2-dev libcairo2-dev libpango1.0-dev libfontconfig-dev
  libfreetype-dev libgs-common libuchardet-dev libzip-dev libicu-dev libreoffice-writer-nogui
  # tools the conversion tests read results back with
  webp imagemagick libvips-tools unrtf unzip icnsutils
  # a real manual (96 named destinations, 75 internal links) the merge tests and benchmarks read
  libtasn1-doc
  # peers of the benchmarks (test_chmLib: chmlib's own reading of one object)
  img2pdf libchm-bin
)
need=()
for p in "${PACKAGES[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ "${#need[@]}" -gt 0 ]; then
  $SUDO apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
