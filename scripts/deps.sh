#!/usr/bin/env bash
# Installs what building and running Evtrak needs on Debian 12, non-interactively; does
# nothing when all is there. The test tools are scripts/deps-test.sh's.
set -euo pipefail

build_and_run=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-translations-l10n
  libgl-dev
  fonts-liberation2   # the report's fonts, built into the program
  libmosquitto-dev    # the MQTT client library (not the broker)
)

# Installs those of the named packages that are missing; prints what it installed.
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ "${#missing[@]}" -eq 0 ] && return 0
  echo "Installation de : ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  ensure_packages "${build_and_run[@]}"
fi
