#!/usr/bin/env bash
# The core, image, serial back-end, simulator and Qt offscreen tests built with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer (preset "sanitize"), then the fuzz target built
# with libFuzzer and given its short run (preset "fuzz"). Installs clang and its sanitizer runtimes
# when they are missing. Exits non-zero when a build or a test fails; any sanitizer report fails
# its test.
#
# VKT5_SANITIZE_E2E=1 also runs the real program end to end from the sanitizer build. It is not
# the default: those runs take minutes, and the two that watch the process from outside cannot be
# judged there (ASan keeps freed memory in quarantine, so the resident-set bound of the garbage
# stream does not hold; LeakSanitizer cannot run under the strace of the odd-ports run).
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib/packages.sh"
cd "$root" || exit 1

# shellcheck disable=SC2086
ensure_packages $LINUX_BUILD_PACKAGES clang libclang-rt-14-dev || exit 1

# A report stops the process (the build already makes UBSan fatal); leaks count as failures.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan_suppressions.txt}

status=0

echo "--- sanitize: build"
if cmake --preset sanitize >/dev/null && cmake --build --preset sanitize -- -j2; then
    echo "--- sanitize: tests"
    ctest --preset sanitize -j2 -LE e2e || status=1
    if [ "${VKT5_SANITIZE_E2E:-0}" = 1 ]; then
        echo "--- sanitize: the real program end to end"
        # shellcheck disable=SC2086
        ensure_packages $DISPLAY_PACKAGES || exit 1
        ctest --preset sanitize -j2 -L e2e -E 'e2e\.fault\.(garbage|odd-ports)$' || status=1
    fi
else
    status=1
fi

echo "--- fuzz: build and short run"
if cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -- -j2; then
    ctest --preset fuzz || status=1
else
    status=1
fi

exit $status
