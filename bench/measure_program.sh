#!/usr/bin/env bash
# Whole-program cost while monitoring the test camera at 640x480 and the test
# microphone, offscreen: CPU time (user + system) and peak memory over a run.
# Usage: bench/measure_program.sh [seconds=60] [build dir=build]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
build="$(cd "${2:-$root/build}" && pwd)"
program="$build/Oculara"
[ -x "$program" ] || { echo "no program at $program: build first" >&2; exit 1; }

home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/.config/Oculara" "$home/program"
for shared in Immagini Suoni help; do ln -s "$build/$shared" "$home/program/$shared"; done
cat > "$home/.config/Oculara/HKEY_CURRENT_USER.reg" <<'HIVE'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Brevant\OCL]
"AvviaMonitoraggio"="1"
"risoluzione_video"="RGB 640x480, 24 bits"
HIVE

HOME="$home" XDG_CONFIG_HOME="$home/.config" OCULARA_SYSCONFDIR="$home/etc" \
OCULARA_PROGRAM_DIR="$home/program/" QT_QPA_PLATFORM=offscreen OCULARA_TEST_DEVICES=1 \
OCULARA_TEST_INTRUDER_SECONDS=20 "$program" 2>/dev/null &
pid=$!
sleep "$seconds"
ticks=$(getconf CLK_TCK)
read -r utime stime < <(awk '{print $14, $15}' "/proc/$pid/stat")
peak_kb=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
kill -TERM "$pid"
wait "$pid" || true
events=$(grep -c 'sospett' "$home/program/Oculara.log" 2>/dev/null || true)
awk -v u="$utime" -v s="$stime" -v t="$ticks" -v secs="$seconds" -v kb="$peak_kb" -v ev="${events:-0}" 'BEGIN {
  cpu = (u + s) / t
  printf "run: %d s monitoring 640x480 video + 44100 Hz audio (test devices)\n", secs
  printf "cpu: %.2f s (user %.2f, system %.2f) = %.1f%% of one core\n", cpu, u / t, s / t, 100 * cpu / secs
  printf "peak memory (VmHWM): %.1f MiB\n", kb / 1024
  printf "events logged: %d\n", ev
}'
