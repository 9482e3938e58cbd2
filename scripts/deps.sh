#!/usr/bin/env bash
# Installs what Evtrak needs on Debian 12, non-interactively; does nothing when all is there.
set -euo pipefail
packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-translations-l10n
  libgl-dev
  fonts-liberation fonts-liberation2
  poppler-utils
  xvfb xauth
  strace   # the save test kills the program at chosen system calls
  clang-14 libclang-rt-14-dev   # scripts/fuzz.sh: libFuzzer targets
  x11-apps xdotool netpbm  # README pictures of the real program under Xvfb (xwd, xwdtopnm)
  libmosquitto-dev mosquitto mosquitto-clients   # MQTT publishing; the tests run their own broker
  dpkg-dev file man-db desktop-file-utils appstream  # Debian package and its checks
  sigrok-cli libreoffice-calc-nogui                   # the VCD and CSV exports opened by real tools
  e2fsprogs xz-utils   # scripts/test-powercut.sh: the ext4 disk image, the unpacked kernel
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installation de : ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
