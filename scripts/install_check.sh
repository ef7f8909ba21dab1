#!/usr/bin/env bash
# Checks a built tree as an installed program: installs it into a temporary
# prefix and runs it from there as an unprivileged user, validates its menu
# entry and metainfo, builds the Debian package and, as root, installs it,
# runs it and removes it again.
#   Usage: install_check.sh BUILD_DIR
#   OCULARA_SKIP_DEB_INSTALL=1  build and inspect the package, but leave the
#                               system's packages alone
set -euo pipefail

if [ $# -ne 1 ] || [ ! -f "$1/CMakeCache.txt" ]; then
  echo "usage: $0 BUILD_DIR (a configured and built tree)" >&2
  exit 2
fi
build="$(cd "$1" && pwd)"
app_id=org.oculara.Oculara

say() { echo "install check: $*"; }
fail() { echo "install check: FAILED: $*" >&2; exit 1; }

tmp="$(mktemp -d /tmp/oculara-install.XXXXXX)"
prefix="$tmp/prefix"
pid=""
deb_installed=0
cleanup() {
  if [ -n "$pid" ]; then kill -KILL "$pid" 2>/dev/null || true; fi
  if [ "$deb_installed" = 1 ]; then
    say "removing the package after a failure"
    apt-get remove -y -q --purge oculara >/dev/null 2>&1 || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
# Interrupted, it still removes the package and the program it started.
trap 'exit 130' INT TERM
# Another user has to reach the prefix and the homes below it.
chmod 755 "$tmp"

# The program as an unprivileged user would run it: as nobody when we are
# root, as ourselves otherwise.
if [ "$(id -u)" -eq 0 ]; then
  run_uid=65534 run_gid=65534
  as_user=(setpriv --reuid="$run_uid" --regid="$run_gid" --clear-groups)
else
  run_uid="$(id -u)" run_gid="$(id -g)"
  as_user=()
fi

# A fresh home of that user with settings that start monitoring by itself
# and keep the event log; the alarm sound stays off, as it would deafen the
# noise detector.
make_home() {  # dir
  local home="$1"
  mkdir -p "$home/.config/Oculara" "$tmp/run-$(basename "$home")"
  printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_CURRENT_USER\Software\Brevant\OCL]' \
    '"AvviaMonitoraggio"="1"' '"ScriviLog"="1"' '"Allarme_Sonoro"="0"' \
    > "$home/.config/Oculara/HKEY_CURRENT_USER.reg"
  chown -R "$run_uid:$run_gid" "$home" "$tmp/run-$(basename "$home")"
  chmod 700 "$tmp/run-$(basename "$home")"
}

# Starts the program in the background in a clean environment: no XDG_*
# folder but the runtime one (kept in $tmp, so /tmp stays clean), so the
# defaults below HOME are what is checked.
start_program() {  # program home [seconds between intruders]
  local program="$1" home="$2"
  # exec: $pid is the program's own, for the signal that stops it.
  (cd "$home" && exec "${as_user[@]}" env -i PATH=/usr/bin:/bin HOME="$home" LANG=C.UTF-8 \
      XDG_RUNTIME_DIR="$tmp/run-$(basename "$home")" QT_QPA_PLATFORM=offscreen \
      OCULARA_TEST_DEVICES=1 OCULARA_AUDIO_SINK=fakesink \
      OCULARA_TEST_INTRUDER_SECONDS="${3:-30}" "$program") </dev/null >"$home.out" 2>&1 &
  pid=$!
}

# The log's rows of the test scene's intruder. The detectors calibrate for
# about 25 s first, and the program logs nothing before an event.
event_row='moviment[io] sospett|rumor[ie] sospett'

# Waits up to the given seconds for an extended regex in a file.
wait_for_row() {  # file regex seconds
  local i
  for ((i = 0; i < $3 * 2; i++)); do
    if [ -f "$1" ] && grep -aqE "$2" "$1"; then return 0; fi
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.5
  done
  return 1
}

# SIGTERM closes the program as its window would be closed: exit code 0.
stop_program() {  # output file
  local rc=0
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" || rc=$?
  pid=""
  [ "$rc" -eq 0 ] || { cat "$1" >&2; fail "the program exited with $rc after SIGTERM"; }
}

# Saved at the close: the program adds every value it knows to ours, and
# names the default alarm sound from its own folder, the data folder.
check_saved() {  # home data-folder
  local hive="$1/.config/Oculara/HKEY_CURRENT_USER.reg"
  grep -aq '"DimMaxLog"' "$hive" || fail "the settings were not saved into $hive"
  grep -aqF "\"FileAudio\"=\"$2/Suoni/DefaultAlarm.wav\"" "$hive" \
    || fail "the installed program did not take $2 as its folder: $(grep -a FileAudio "$hive")"
}

# ---------------------------------------------------------------- a prefix

say "installing into $prefix"
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 \
  || { cat "$tmp/install.log" >&2; fail "cmake --install failed"; }
chmod -R a+rX,go-w "$prefix"
for f in bin/oculara lib/oculara/librasapi32.so share/oculara/Immagini/Sfondo.png \
         share/oculara/Suoni/DefaultAlarm.wav share/oculara/help/html/introduzione.htm \
         share/applications/$app_id.desktop share/metainfo/$app_id.metainfo.xml \
         share/icons/hicolor/scalable/apps/$app_id.svg share/icons/hicolor/48x48/apps/$app_id.png \
         share/icons/hicolor/256x256/apps/$app_id.png; do
  [ -e "$prefix/$f" ] || fail "the install has no $f"
done
readelf -d "$prefix/bin/oculara" | grep -q 'RUNPATH.*\$ORIGIN/\.\./lib/oculara' \
  || fail "bin/oculara does not look for its dial-up library in ../lib/oculara"

say "validating the desktop entry and the metainfo"
desktop-file-validate "$prefix/share/applications/$app_id.desktop" \
  || fail "desktop-file-validate refuses $app_id.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/$app_id.metainfo.xml" >"$tmp/appstream.log" 2>&1 \
  || { cat "$tmp/appstream.log" >&2; fail "appstreamcli refuses $app_id.metainfo.xml"; }
grep -q "Exec=oculara$" "$prefix/share/applications/$app_id.desktop" || fail "the desktop entry does not start oculara"

home="$tmp/home"
make_home "$home"
find "$prefix" -printf '%p %s %T@\n' | sort >"$tmp/prefix.before"
marker="$tmp/marker"
touch "$marker"
sleep 1  # file times are compared to the marker's: later by a clear second

say "running $prefix/bin/oculara as uid $run_uid until an intruder is logged"
start_program "$prefix/bin/oculara" "$home"
log="$home/.local/state/Oculara/Oculara.log"
found=0
wait_for_row "$log" "$event_row" 75 && found=1
stop_program "$home.out"
if [ "$found" = 0 ]; then
  say "program output:"; cat "$home.out" >&2
  if [ -f "$log" ]; then fail "no movement or noise row in $log"; fi
  fail "no event log at ~/.local/state/Oculara/Oculara.log; files the run made: $(find "$tmp" "$prefix" -newer "$marker" -type f | tr '\n' ' ')"
fi
check_saved "$home" "$prefix/share/oculara"

say "checking that the run wrote nowhere but its home and the temporary folders"
find "$prefix" -printf '%p %s %T@\n' | sort >"$tmp/prefix.after"
cmp -s "$tmp/prefix.before" "$tmp/prefix.after" \
  || fail "the run changed the prefix: $(diff "$tmp/prefix.before" "$tmp/prefix.after" | grep '^[<>]' | head -5 | tr '\n' ' ')"
if [ "$(id -u)" -eq 0 ]; then
  stray="$(find / -xdev \( -path /proc -o -path /tmp -o -path /var/tmp -o -path /dev/shm \) -prune \
             -o -user "$run_uid" -newer "$marker" -print 2>/dev/null | head -20)"
  [ -z "$stray" ] || fail "files written by uid $run_uid outside its home: $stray"
fi
say "the prefix install runs: log, settings and no stray files are as expected"

# ---------------------------------------------------------------- the package

say "building the Debian package"
rm -f "$build"/oculara_*.deb
(cd "$build" && cpack -G DEB) >"$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log" >&2; fail "cpack -G DEB failed"; }
debs=("$build"/oculara_*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single oculara_*.deb"
deb="${debs[0]}"
depends="$(dpkg-deb --field "$deb" Depends)"
for p in libqt6widgets6 libgstreamer1.0-0 libgstreamer-plugins-base1.0-0 libssl3 libcurl4 libjpeg62-turbo \
         gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-alsa gstreamer1.0-pulseaudio \
         gstreamer1.0-libav xdg-utils ca-certificates; do
  [[ ", $depends," == *", $p "* || ", $depends," == *", $p,"* ]] || fail "the package does not depend on $p: $depends"
done
dpkg-deb --contents "$deb" | awk '{print $NF}' >"$tmp/contents"
for f in ./usr/bin/oculara ./usr/lib/oculara/librasapi32.so ./usr/share/oculara/Immagini/Sfondo.png \
         ./usr/share/applications/$app_id.desktop ./usr/share/metainfo/$app_id.metainfo.xml \
         ./usr/share/icons/hicolor/scalable/apps/$app_id.svg ./usr/share/icons/hicolor/128x128/apps/$app_id.png; do
  grep -qxF "$f" "$tmp/contents" || fail "the package has no $f"
done
if grep -E 'test_|bench|screenshots|make_resources|Oculara$' "$tmp/contents"; then
  fail "the package holds files that are not the installed program's (above)"
fi
say "$(basename "$deb"): dependencies and contents as expected"

if [ "$(id -u)" -ne 0 ]; then
  say "not root: the package is not installed"
  exit 0
fi
if [ -n "${OCULARA_SKIP_DEB_INSTALL:-}" ]; then
  say "OCULARA_SKIP_DEB_INSTALL set: the package is not installed"
  exit 0
fi
if dpkg-query -W -f='${Status}' oculara 2>/dev/null | grep -q 'installed'; then
  say "a package oculara is installed already: left alone, this one is not installed"
  exit 0
fi

# Everything it depends on is installed by scripts/setup.sh: anything
# apt-get would fetch is a dependency setup.sh lacks.
mkdir -p "$tmp/deb"
cp "$deb" "$tmp/deb/"
deb="$tmp/deb/$(basename "$deb")"
chmod -R a+rX "$tmp/deb"
fetch="$(apt-get install -s -y "$deb" 2>&1 | awk '/^Inst / && $2 != "oculara" {print $2}' | tr '\n' ' ')"
[ -z "$fetch" ] || fail "installing the package would download: $fetch(not installed by scripts/setup.sh)"

say "installing $(basename "$deb") with apt-get"
deb_installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >"$tmp/apt.log" 2>&1 \
  || { cat "$tmp/apt.log" >&2; fail "apt-get install of the package failed"; }
[ -x /usr/bin/oculara ] || fail "the package did not install /usr/bin/oculara"

home="$tmp/home-deb"
make_home "$home"
say "running /usr/bin/oculara as uid $run_uid until an intruder is logged"
start_program /usr/bin/oculara "$home"
found=0
wait_for_row "$home/.local/state/Oculara/Oculara.log" "$event_row" 75 && found=1
stop_program "$home.out"
[ "$found" = 1 ] || { cat "$home.out" >&2; fail "/usr/bin/oculara wrote no event log to ~/.local/state/Oculara/"; }
check_saved "$home" /usr/share/oculara

say "removing the package"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -q --purge oculara >"$tmp/apt.log" 2>&1 \
  || { cat "$tmp/apt.log" >&2; fail "apt-get remove of the package failed"; }
deb_installed=0
for f in /usr/bin/oculara /usr/share/applications/$app_id.desktop \
         /usr/share/icons/hicolor/scalable/apps/$app_id.svg /usr/share/icons/hicolor/256x256/apps/$app_id.png \
         /usr/share/oculara /usr/lib/oculara; do
  [ ! -e "$f" ] || fail "$f is still there after the package was removed"
done
say "all checks passed"
