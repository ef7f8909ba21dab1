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

# Without a display the program runs offscreen with settings of its own
# (the user's are left alone): it starts monitoring by itself, and the test
# scene's intruder comes every 20 seconds, so the event log shows it at work.
demo="$root/build/demo-home"
hive="$demo/.config/Oculara/HKEY_CURRENT_USER.reg"
mkdir -p "$(dirname "$hive")"
if [ ! -f "$hive" ]; then
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Brevant\\OCL]\n"AvviaMonitoraggio"="1"\n' > "$hive"
fi
export HOME="$demo" XDG_CONFIG_HOME="$demo/.config"
export OCULARA_TEST_INTRUDER_SECONDS="${OCULARA_TEST_INTRUDER_SECONDS:-20}"
export OCULARA_AUDIO_SINK="${OCULARA_AUDIO_SINK:-fakesink}"
export QT_QPA_PLATFORM=offscreen
export OCULARA_SCREENSHOT="$root/build/Oculara-window.png"
export OCULARA_SCREENSHOT_DELAY_MS=25000

echo
echo "No display found: Oculara runs offscreen on its test devices."
echo "Its settings for this demo: $hive"
echo "It calibrates for about 20 s; then an intruder crosses the test scene every"
echo "${OCULARA_TEST_INTRUDER_SECONDS} s and each one shows up below as events and alarms."
echo "A picture of its window, after 25 s: $root/build/Oculara-window.png"
echo "Event log ($root/build/Oculara.log) as it grows; Ctrl+C stops the program."
echo
touch "$root/build/Oculara.log"
"$root/build/Oculara" 2>/dev/null &
pid=$!
# The log is Windows-1252 with CRLF: shown line by line as UTF-8.
tail -n 0 -F "$root/build/Oculara.log" --pid="$pid" 2>/dev/null |
  python3 -u -c 'import sys
for line in sys.stdin.buffer: print(line.decode("cp1252", "replace").rstrip("\r\n"), flush=True)' &
tailpid=$!
trap 'kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; kill "$tailpid" 2>/dev/null; exit 0' INT TERM
wait "$pid"
kill "$tailpid" 2>/dev/null || true
