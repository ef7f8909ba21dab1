#!/usr/bin/env bash
# Side by side on the same clip: the program (file camera, offscreen, video
# only, no alarm action) and Debian's `motion` (netcam_url file://, detection
# on, no picture, movie, stream or web port), started together. After a
# warm-up both are measured over the same window: CPU time (user + system,
# all threads) spent in the window, peak memory (VmHWM, since start) and
# the ratio program / motion. Clips: the test scene encoded as 768x576
# MPEG-4 at 10 fps and as 1280x720 MJPEG at 30 fps (cached, see clip_lib.sh).
#
# Usage: bench/compare_motion.sh [SECONDS=60] [BUILD_DIR=build] [CLIP...]
#        (CLIP: 768x576 or 1280x720; both by default. WARMUP=5 seconds.
#        FLOOR=1 then also measures, alone and over the same window, what
#        GStreamer spends to decode every frame of the clip at its own pace,
#        and to decode it and convert every frame to BGR: floors for the
#        program.)
#        bench/compare_motion.sh --events BUILD_A [BUILD_B] [SECONDS]
#        (the program's movement events on the 768x576 clip, see events_on_clip.sh)
# Installs `motion` with apt-get when it is missing (as root).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
# shellcheck source-path=SCRIPTDIR source=clip_lib.sh
source "$here/clip_lib.sh"

if [ "${1:-}" = "--events" ]; then
  shift
  exec "$here/events_on_clip.sh" "$@"
fi

seconds="${1:-60}"
build="$(cd "${2:-$root/build}" && pwd)"
shift $(($# < 2 ? $# : 2))
clips=("$@")
[ ${#clips[@]} -gt 0 ] || clips=(768x576 1280x720)
warmup="${WARMUP:-5}"
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || die "SECONDS must be a whole number of seconds"

ensure_motion() {
  command -v motion >/dev/null 2>&1 && return 0
  echo "installing motion ..." >&2
  apt-get install -y motion >&2 || { apt-get update >&2 && apt-get install -y motion >&2; } ||
    die "cannot install motion (run as root)"
}

# write_motion_config DIR CLIP: detection on every frame of CLIP at its own
# rate; nothing written but the log (informational level, which says when
# the decoder opens: nothing per frame), no port opened.
write_motion_config() {
  local dir="$1" clip="$2" w h fps
  read -r w h fps < <(clip_geometry "$clip")
  cat > "$dir/motion.conf" <<CONF
daemon off
setup_mode off
log_level 7
target_dir $dir
netcam_url file://$clip
netcam_params capture_rate=$fps
width $w
height $h
framerate $fps
emulate_motion off
threshold 1500
despeckle_filter EedDl
minimum_motion_frames 1
event_gap 5
pre_capture 0
post_capture 0
picture_output off
picture_output_motion off
movie_output off
movie_output_motion off
snapshot_interval 0
webcontrol_port 0
stream_port 0
CONF
}

# motion_events LOG: events motion started.
motion_events() { grep -c 'Motion detected - starting event' "$1" || true; }

# check_motion_read LOG: warns unless motion opened the clip and decoded it.
check_motion_read() {
  if ! grep -q 'Decoder opened' "$1" || ! grep -q 'connected' "$1"; then
    echo "warning: motion did not open the clip; its log:" >&2
    tail -20 "$1" >&2
  fi
}

# floor_cpu CLIP TAIL: CPU seconds over the window of a real-time GStreamer
# pipeline that decodes CLIP and ends in TAIL; "n/a" when the clip is too
# short for the window.
floor_cpu() {
  local clip="$1" tail="$2" pid t0 t1
  [ $((warmup + seconds)) -lt "$CLIP_SECONDS" ] || { echo n/a; return; }
  # shellcheck disable=SC2086 # the tail is pipeline words
  gst-launch-1.0 -q filesrc location="$clip" ! decodebin ! $tail ! fakesink sync=true > /dev/null 2>&1 &
  pid=$!
  sleep "$warmup"; alive "$pid" "gst-launch-1.0"; t0="$(cpu_ticks "$pid")"
  sleep "$seconds"; alive "$pid" "gst-launch-1.0"; t1="$(cpu_ticks "$pid")"
  stop_process "$pid"
  awk -v d=$((t1 - t0)) -v t="$ticks" 'BEGIN { printf "%.2f", d / t }'
}

work="$(mktemp -d)"
program_pid="" motion_pid=""
cleanup() {
  [ -n "$program_pid" ] && stop_process "$program_pid"
  [ -n "$motion_pid" ] && stop_process "$motion_pid"
  rm -rf "$work"
}
trap cleanup EXIT

ensure_motion
ticks="$(getconf CLK_TCK)"
results=() floors=()
echo "machine: $(nproc) cores, load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "window: ${seconds} s of CPU after ${warmup} s of warm-up, both processes at once; peak memory since start"
for kind in "${clips[@]}"; do
  clip="$(clip_path "$build" "$kind")"
  run="$work/$kind"
  mkdir -p "$run/home" "$run/motion"
  write_motion_config "$run/motion" "$clip"
  start_program "$build" "$clip" "$run/home"
  program_pid="$PROGRAM_PID"
  motion -n -c "$run/motion/motion.conf" -l "$run/motion/motion.log" > /dev/null 2>&1 &
  motion_pid=$!
  sleep "$warmup"
  alive "$program_pid" "the program"; alive "$motion_pid" "motion"
  p0="$(cpu_ticks "$program_pid")"; m0="$(cpu_ticks "$motion_pid")"
  sleep "$seconds"
  alive "$program_pid" "the program"; alive "$motion_pid" "motion"
  p1="$(cpu_ticks "$program_pid")"; m1="$(cpu_ticks "$motion_pid")"
  pk="$(peak_kib "$program_pid")"; mk="$(peak_kib "$motion_pid")"
  load="$(cut -d' ' -f1 /proc/loadavg)"
  stop_process "$program_pid"; program_pid=""
  stop_process "$motion_pid"; motion_pid=""
  check_motion_read "$run/motion/motion.log"
  pe="$(program_movements "$run/home")"; me="$(motion_events "$run/motion/motion.log")"
  # The clip's first intruder crosses at 30 s, after the program's calibration.
  if [ $((warmup + seconds)) -ge 40 ] && { [ "$pe" = 0 ] || [ "$me" = 0 ]; }; then
    echo "warning: an intruder crossed at 30 s, but the program logged $pe movement rows and motion $me events" >&2
  fi
  results+=("$(awk -v c="$(basename "$clip")" -v p=$((p1 - p0)) -v m=$((m1 - m0)) -v t="$ticks" \
    -v pk="$pk" -v mk="$mk" -v pe="$pe" -v me="$me" -v l="$load" 'BEGIN {
    ratio = m > 0 ? sprintf("%.2f", p / m) : "n/a"
    printf "| %s | %.2f CPU-s, %.0f MiB | %.2f CPU-s, %.0f MiB | %s | %d rows | %d | %s |", c, m / t, mk / 1024,
      p / t, pk / 1024, ratio, pe, me, l
  }')")
  echo "${results[-1]}"
  if [ "${FLOOR:-0}" = 1 ]; then
    floors+=("| $(basename "$clip") | $(floor_cpu "$clip" identity) CPU-s | \
$(floor_cpu "$clip" "videoconvert ! video/x-raw,format=BGR") CPU-s |")
    echo "floors ${floors[-1]}"
  fi
done
echo
echo "Same clip, ${seconds} s, both at once:"
echo "| clip | motion | Oculara | ratio Oculara/motion | Oculara movement rows since start | motion events since start | load at end |"
echo "|---|---|---|---|---|---|---|"
printf '%s\n' "${results[@]}"
if [ ${#floors[@]} -gt 0 ]; then
  echo
  echo "Floors, each alone, same ${seconds} s window at the clip's pace:"
  echo "| clip | decoding every frame | decoding and converting every frame to BGR |"
  echo "|---|---|---|"
  printf '%s\n' "${floors[@]}"
fi
