#!/usr/bin/env bash
# Configures and builds one tree. Usage: build.sh DIR [cmake options...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="$1"; shift
jobs="$(nproc 2>/dev/null || echo 2)"
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" > "$dir.configure.log" 2>&1 \
  || { cat "$dir.configure.log"; exit 1; }
# OCULARA_TARGETS limits the build to some targets (the sanitizer runs).
cmake --build "$dir" -j "$jobs" ${OCULARA_TARGETS:+--target $OCULARA_TARGETS}
