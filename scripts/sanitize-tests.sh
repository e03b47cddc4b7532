#!/usr/bin/env bash
# The core, image, serial back-end, simulator and Qt offscreen tests built with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer (preset "sanitize"), then the fuzz target built
# with libFuzzer and given its short run (preset "fuzz"). Installs clang and its sanitizer runtimes
# when they are missing. Exits non-zero when a build or a test fails; any sanitizer report fails
# its test.
#
# VKT5_SANITIZE_E2E=1 also runs the real program end to end from the sanitizer build; not the
# default, as those runs take minutes. The garbage stream's resident-set bound is measured there
# with ASan's quarantine off (freed memory held back would count as growth), and the odd-ports run
# is left out: LeakSanitizer cannot run under its strace.
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
        ASAN_OPTIONS=$ASAN_OPTIONS:quarantine_size_mb=0 \
            ctest --preset sanitize -R 'e2e\.fault\.garbage$' || status=1
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
