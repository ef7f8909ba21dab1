#!/usr/bin/env bash
# Installs the Debian packages Oculara needs to build, run and test.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

PACKAGES=(
  g++ cmake make pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl-dev fonts-dejavu-core
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-alsa gstreamer1.0-libav gstreamer1.0-tools
  libcurl4-openssl-dev libjpeg62-turbo-dev libssl-dev openssl ca-certificates
  python3 python3-aiosmtpd tinyproxy
  xdg-utils desktop-file-utils
  # the installed program's checks and its Debian package
  dpkg-dev appstream
  ccache
  # the real-device test bench: private sound and camera servers
  pulseaudio pulseaudio-utils pipewire wireplumber gstreamer1.0-pipewire gstreamer1.0-pulseaudio dbus
  libpipewire-0.3-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#PACKAGES[@]} packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
