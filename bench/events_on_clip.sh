#!/usr/bin/env bash
# The movement events the program logs while it monitors a clip, so two
# builds (before and after a change to the video path) can be compared: each
# build monitors the clip alone, from its own start, for the same time. The
# rows are grouped into bursts (one per intruder crossing the scene: rows at
# most 5 s apart); builds agree when they have as many bursts, each with the
# same kinds of row, starting within 2 s of the first build's and with at
# most 2 rows more or fewer. The log keeps one row per second for a run of
# equal events, and a burst's first and last second fall either side of a
# second's edge from run to run, so the same build differs by a row or so.
#
# Usage: bench/events_on_clip.sh [--seconds N=100] [--clip 768x576|1280x720]... BUILD_DIR...
#        (both clips by default; the intruder crosses at 30 s and 60 s of
#        each 90 s loop of the clip: 100 s see two crossings, 170 s four.)
# Exit status 1 when builds disagree. Pass one build twice to see how
# steady the rows are from run to run.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source-path=SCRIPTDIR source=clip_lib.sh
source "$here/clip_lib.sh"

seconds=100
clips=()
builds=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="${2:?}"; shift 2 ;;
    --clip) clips+=("${2:?}"); shift 2 ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    *) builds+=("$(cd "$1" && pwd)"); shift ;;
  esac
done
[ ${#builds[@]} -gt 0 ] || die "usage: $0 [--seconds N] [--clip KIND]... BUILD_DIR..."
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || die "--seconds takes a whole number of seconds"
[ ${#clips[@]} -gt 0 ] || clips=(768x576 1280x720)

work="$(mktemp -d)"
pid=""
cleanup() {
  [ -n "$pid" ] && stop_process "$pid"
  rm -rf "$work"
}
trap cleanup EXIT

# movement_rows HOME START: "SECONDS_SINCE_START<TAB>TYPE<TAB>DESCRIPTION"
# for each movement row, from the log's "d/m/yy hh:nn:ss" local times.
movement_rows() {
  program_log "$1" | awk -F'\t' -v start="$2" '$2 ~ /movimento sospetto|movimenti sospetti/ {
    split($1, dt, " "); split(dt[1], d, "/"); split(dt[2], t, ":")
    when = mktime(sprintf("%d %d %d %d %d %d", 2000 + d[3], d[2], d[1], t[1], t[2], t[3]))
    printf "%d\t%s\t%s\n", when - start, $2, $3
  }'
}

# bursts: rows -> "START_SECONDS<TAB>ROWS<TAB>KINDS<TAB>COUNTS" per burst:
# the kinds of row in order of appearance ("3 movimenti sospetti / alta"),
# then how many of each ("9 x 3 movimenti sospetti / alta").
bursts() {
  awk -F'\t' '
    function flush() {
      if (!rows) return
      names = ""; line = ""
      for (i = 1; i <= nkinds; i++) {
        names = names (i > 1 ? ", " : "") kinds[i]
        line = line (i > 1 ? ", " : "") count[kinds[i]] " x " kinds[i]
      }
      printf "%d\t%d\t%s\t%s\n", first, rows, names, line
      for (i = 1; i <= nkinds; i++) delete count[kinds[i]]
      rows = 0; nkinds = 0
    }
    {
      if (rows && $1 - last > 5) flush()
      if (!rows) first = $1
      kind = $2 " / " ($3 ~ /alta/ ? "alta" : "bassa")
      if (!(kind in count)) { kinds[++nkinds] = kind; count[kind] = 0 }
      count[kind]++; rows++; last = $1
    }
    END { flush() }'
}

# agree FIRST OTHER: as many bursts, of the same kinds, starting within
# 2 s, with at most 2 rows more or fewer.
agree() {
  [ "$(wc -l < "$1")" = "$(wc -l < "$2")" ] || return 1
  paste "$1" "$2" | awk -F'\t' '
    function off(a, b) { return a - b > 2 || b - a > 2 }
    NF != 8 || $3 != $7 || off($1, $5) || off($2, $6) { bad = 1 }
    END { exit bad }'
}

status=0
for kind in "${clips[@]}"; do
  clip="$(clip_path "${builds[0]}" "$kind")"
  echo "== $(basename "$clip"), ${seconds} s from the program's start"
  n=0
  for build in "${builds[@]}"; do
    n=$((n + 1))
    home="$work/$kind-$n"
    start="$(date +%s)"
    start_program "$build" "$clip" "$home"
    pid="$PROGRAM_PID"
    sleep "$seconds"
    alive "$pid" "the program of $build"
    stop_process "$pid"; pid=""
    movement_rows "$home" "$start" > "$home.rows"
    bursts < "$home.rows" > "$home.bursts"
    echo "-- build $n: $build ($(wc -l < "$home.rows") movement rows)"
    awk -F'\t' '{ printf "   burst at %3d s: %2d rows: %s\n", $1, $2, $4 }' "$home.bursts"
    if [ "$n" -gt 1 ]; then
      if agree "$work/$kind-1.bursts" "$home.bursts"; then
        echo "   same events as build 1"
      else
        echo "   DIFFERENT events from build 1"
        status=1
      fi
    fi
  done
done
exit "$status"
