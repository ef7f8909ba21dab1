# shellcheck shell=bash
# Helpers shared by compare_motion.sh and events_on_clip.sh: the test scene
# encoded as clips, the program monitoring a clip offscreen, and readings of
# a running process. Source it; it defines functions and nothing else.

# The scene's intruder crosses at 30 s and 60 s of a 90 s clip, which then
# plays again from its start: the program calibrates for its first 20-25 s,
# and an intruder then would spoil the calibration.
CLIP_SECONDS=90
CLIP_INTRUDER_PERIOD=30

die() { echo "$*" >&2; exit 1; }

# clip_path BUILD KIND: the cached clip of KIND (768x576 or 1280x720), made
# first if missing. The cache is $OCULARA_BENCH_CLIPS or BUILD/bench-clips.
clip_path() {
  local build="$1" kind="$2" dir w h fps tag encoder
  dir="${OCULARA_BENCH_CLIPS:-$build/bench-clips}"
  case "$kind" in
    # A codec that predicts frames from each other, so every frame must be
    # decoded; a fine quantizer keeps the sensor noise, as a camera's clip has it.
    768x576) w=768 h=576 fps=10 tag=mpeg4q3 encoder="avenc_mpeg4 pass=quant quantizer=3" ;;
    # Frames that decode on their own, as a 720p camera's MJPEG stream.
    1280x720) w=1280 h=720 fps=30 tag=mjpegq80 encoder="jpegenc quality=80" ;;
    *) die "unknown clip $kind" ;;
  esac
  local clip="$dir/scene-${w}x${h}-${fps}fps-${CLIP_SECONDS}s-every${CLIP_INTRUDER_PERIOD}s-$tag.avi"
  if [ ! -s "$clip" ]; then
    mkdir -p "$dir"
    local frames="$build/bench/scene_frames"
    if [ ! -x "$frames" ]; then
      cmake --build "$build" --target scene_frames >&2 || die "cannot build scene_frames in $build"
    fi
    echo "making $clip ..." >&2
    # shellcheck disable=SC2086 # the encoder and its options are words
    "$frames" "$w" "$h" "$fps" "$CLIP_SECONDS" "$CLIP_INTRUDER_PERIOD" |
      gst-launch-1.0 -q fdsrc fd=0 blocksize=$((w * h * 3)) \
        ! rawvideoparse width="$w" height="$h" format=bgr framerate="$fps/1" \
        ! videoconvert ! video/x-raw,format=I420 ! $encoder ! avimux \
        ! filesink location="$clip.part" || die "cannot make $clip"
    mv "$clip.part" "$clip"
  fi
  echo "$clip"
}

# clip_geometry CLIP: "WIDTH HEIGHT FPS" from the clip's name.
clip_geometry() {
  local name w h fps
  name="$(basename "$1")"
  [[ "$name" =~ ([0-9]+)x([0-9]+)-([0-9]+)fps ]] || die "cannot read the size of $1"
  w="${BASH_REMATCH[1]}" h="${BASH_REMATCH[2]}" fps="${BASH_REMATCH[3]}"
  echo "$w $h $fps"
}

# start_program BUILD CLIP HOME: the program monitors CLIP offscreen with a
# private home in HOME, video only, no alarm action. Sets PROGRAM_PID.
start_program() {
  local build="$1" clip="$2" home="$3" w h fps
  read -r w h fps < <(clip_geometry "$clip")
  [ -x "$build/Oculara" ] || die "no program at $build/Oculara: build first"
  mkdir -p "$home/.config/Oculara" "$home/program"
  local shared
  for shared in Immagini Suoni help; do ln -sfn "$build/$shared" "$home/program/$shared"; done
  cat > "$home/.config/Oculara/HKEY_CURRENT_USER.reg" <<HIVE
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Brevant\\OCL]
"AvviaMonitoraggio"="1"
"dispositivo_video"="File video di prova"
"risoluzione_video"="RGB ${w}x${h}, 24 bits"
"Attiva_VideoSorveglianza"="1"
"Attiva_AudioSorveglianza"="0"
"Allarme_Sonoro"="0"
HIVE
  HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
  OCULARA_SYSCONFDIR="$home/etc" OCULARA_PROGRAM_DIR="$home/program/" QT_QPA_PLATFORM=offscreen \
  OCULARA_TEST_DEVICES=1 OCULARA_TEST_VIDEO_FILE="$clip" OCULARA_AUDIO_SINK=fakesink \
    "$build/Oculara" > "$home/program.out" 2>&1 &
  # shellcheck disable=SC2034 # read by the scripts that source this file
  PROGRAM_PID=$!
}

# program_log HOME: the program's event log as UTF-8 (it writes Windows-1252).
program_log() {
  [ -f "$1/program/Oculara.log" ] || return 0
  iconv -f CP1252 -t UTF-8 "$1/program/Oculara.log" | tr -d '\r'
}

# program_movements HOME: how many movement rows the program logged.
program_movements() {
  program_log "$1" | awk -F'\t' '$2 ~ /movimento sospetto|movimenti sospetti/ { n++ } END { print n + 0 }'
}

# stop_process PID: TERM, then KILL after 10 s; never fails.
stop_process() {
  local pid="$1" _
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# cpu_ticks PID: user + system clock ticks of the process, all its threads.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# peak_kib PID: the most resident memory the process has had (VmHWM).
peak_kib() { awk '/^VmHWM/ { print $2 }' "/proc/$1/status"; }

# alive PID NAME: fails with a message when the process has ended.
alive() { kill -0 "$1" 2>/dev/null || die "$2 ended early"; }
