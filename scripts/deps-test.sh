#!/usr/bin/env bash
# Installs what the test command needs beyond building and running (scripts/deps.sh):
# the test tools, the Debian packaging checks, and the Mosquitto broker, which the tests
# start themselves on a free loopback port. Does nothing when all is there.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${build_and_run[@]}"

test_tools=(
  poppler-utils                         # pdftotext: the PDF report's text
  strace                                # the save test kills the program at chosen calls
  faketime                              # the kill test moves the wall clock across midnight
  e2fsprogs xz-utils                    # the power-cut test: an ext4 disk image, the kernel unpacked
  clang-14 libclang-rt-14-dev           # scripts/fuzz.sh: libFuzzer targets
  mosquitto-clients                     # mosquitto_sub and mosquitto_pub
  dpkg-dev file man-db desktop-file-utils appstream lintian   # the Debian package's checks
  sigrok-cli libreoffice-calc-nogui     # the VCD and CSV exports opened by real tools
  xvfb xauth x11-apps xdotool netpbm fonts-liberation   # README pictures under Xvfb
)
ensure_packages "${test_tools[@]}"

# The broker. Debian starts it as a system service on port 1883 as soon as it is
# installed and at every boot: when this script installs it, service starts are refused
# during the installation (policy-rc.d) and the service is disabled afterwards. A broker
# installed before is left as its administrator set it up.
if ! dpkg-query -W -f='${Status}' mosquitto 2>/dev/null | grep -q "install ok installed"; then
  sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  policy=/usr/sbin/policy-rc.d
  saved=""
  if [ -e "$policy" ]; then
    saved=$(mktemp)
    "${sudo[@]}" cp -p "$policy" "$saved"
  fi
  restore() {
    if [ -n "$saved" ]; then "${sudo[@]}" cp -p "$saved" "$policy"; "${sudo[@]}" rm -f "$saved"
    else "${sudo[@]}" rm -f "$policy"; fi
  }
  trap restore EXIT
  printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$policy" >/dev/null
  "${sudo[@]}" chmod 755 "$policy"
  echo "Installation de : mosquitto (service système désactivé)"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    mosquitto
  restore
  trap - EXIT
  if [ -d /run/systemd/system ]; then
    "${sudo[@]}" systemctl disable --now mosquitto.service >/dev/null 2>&1 || true
  else
    "${sudo[@]}" systemctl disable mosquitto.service >/dev/null 2>&1 || true
  fi
  "${sudo[@]}" update-rc.d mosquitto disable >/dev/null 2>&1 || true
fi
if (exec 3<>/dev/tcp/127.0.0.1/1883) 2>/dev/null; then
  echo "Note : un serveur MQTT écoute déjà sur le port 1883 (installé avant ; les tests ne" \
       "l'utilisent pas)."
fi
