#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build,
# the normal build installed and packaged (scripts/install_check.sh), then
# the AddressSanitizer/UBSan build, then ThreadSanitizer on the threaded parts.
#   --quick  the inner loop: the normal build only, and only the unit and
#            gui tests (no runs of the real program, no real devices).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
quick=0
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac
bash "$root/scripts/setup.sh"
jobs="$(nproc 2>/dev/null || echo 2)"

# The program's own runs mostly wait for their scenes: two per core keep
# the cores busy while they wait.
run_tests() {  # dir [ctest args...]
  local dir="$1"; shift
  (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$((jobs * 2))" "$@")
}

echo "== build"
bash "$root/scripts/build.sh" "$root/build"
if [ "$quick" = 1 ]; then
  run_tests "$root/build" -LE "integration|long|realdev"
  exit 0
fi
run_tests "$root/build"

echo "== installed program and Debian package"
bash "$root/scripts/install_check.sh" "$root/build"

echo "== AddressSanitizer + UBSan"
bash "$root/scripts/build.sh" "$root/build-asan" -DOCULARA_SANITIZE=ON -DOCULARA_BENCH=OFF
# Full stacks, so that what GLib keeps for the process is told apart from real leaks.
ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 LSAN_OPTIONS="suppressions=$root/tests/lsan.supp" \
  UBSAN_OPTIONS=print_stacktrace=1 run_tests "$root/build-asan"

echo "== ThreadSanitizer (threaded parts)"
# The picture generator runs during the build; Qt inside it is not
# instrumented, so its reports are noise.
TSAN_OPTIONS="report_bugs=0" OCULARA_TARGETS="test_alarms test_capture test_notify" \
  bash "$root/scripts/build.sh" "$root/build-tsan" -DOCULARA_TSAN=ON -DOCULARA_BENCH=OFF
# The minutes of test scene run on one thread: nothing for ThreadSanitizer
# to watch, and three minutes of its time.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_tests "$root/build-tsan" -L "alarms|capture|notify" \
  -E "/QuietScene\."
