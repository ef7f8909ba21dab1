#!/usr/bin/env bash
# Installs what is missing, builds, and runs Oculara on its built-in test
# camera and microphone. With a display the window opens; without one the
# program runs offscreen and its event log is followed here.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
mkdir -p "$root/build"
bash "$root/scripts/build.sh" "$root/build"

export OCULARA_TEST_DEVICES=1
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$root/build/Oculara"
fi

echo
echo "No display found: Oculara runs offscreen on its test devices."
echo "Its settings: ${XDG_CONFIG_HOME:-$HOME/.config}/Oculara/HKEY_CURRENT_USER.reg"
echo "A picture of its window: $root/build/Oculara-window.png"
echo "Event log ($root/build/Oculara.log) as it grows; Ctrl+C stops the program."
echo
export QT_QPA_PLATFORM=offscreen
export OCULARA_SCREENSHOT="$root/build/Oculara-window.png"
touch "$root/build/Oculara.log"
"$root/build/Oculara" &
pid=$!
tail -n 0 -F "$root/build/Oculara.log" --pid="$pid" 2>/dev/null | tr -d '\r' &
tailpid=$!
trap 'kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; kill "$tailpid" 2>/dev/null; exit 0' INT TERM
wait "$pid"
kill "$tailpid" 2>/dev/null || true
