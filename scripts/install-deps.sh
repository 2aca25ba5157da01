#!/usr/bin/env bash
# The one place that lists what the client needs from Debian 12 to build, run and test.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake pkg-config ninja-build
  # libraries
  libjsoncpp-dev
  libboost-log-dev libboost-filesystem-dev libboost-regex-dev libboost-thread-dev
  libcurl4-openssl-dev
  libxml2-dev
  libmbedtls-dev
  libwebkit2gtk-4.1-dev libgtk-3-dev libglib2.0-dev libx11-dev
  libasound2-dev libsndfile1-dev
  # 7-Zip console and its format library
  p7zip-full
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool x11-utils imagemagick
  python3 libxml2-utils openssl curl
  # a private sound server without a sound card (pipewire-alsa would displace pulseaudio),
  # ALSA's route to it, and the speech and sound files the sound tests make
  pulseaudio pulseaudio-utils libasound2-plugins alsa-utils sox flite espeak-ng
  # fuzz targets: clang and its libFuzzer runtime
  clang libclang-rt-14-dev
  # Chinese texts of pages and dialogs on a machine without a desktop
  fonts-wqy-microhei
  # speech evaluation: the recogniser and its US English model
  pocketsphinx pocketsphinx-en-us libpocketsphinx-dev libsphinxbase-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
