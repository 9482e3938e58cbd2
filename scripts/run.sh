#!/usr/bin/env bash
# Installs what building and running needs when it is missing (scripts/deps.sh), builds
# Evtrak and starts it on the built-in simulated port (a window when a display is there,
# otherwise headless, printing the events).
# Extra arguments go to the program (for example: --port-device /tmp/port.bin).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target evtrak -j"$(nproc)"
args=("$@")
[ "${#args[@]}" -eq 0 ] && args=(--demo)
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/src/evtrak "${args[@]}"
else
  echo "Pas d'affichage : acquisition sans fenêtre (Ctrl+C pour arrêter)."
  exec build/src/evtrak --headless "${args[@]}"
fi
