#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the plain build, the whole suite
# under ASan+UBSan, the threaded tests under TSan and a bounded fuzzing run. Exits non-zero on
# any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh test
jobs=$(nproc)
passed=0
failed=0
failedStages=()
stageLogs=$(mktemp -d)
trap 'rm -rf "$stageLogs"' EXIT

stage() { # stage NAME COMMAND...
    local name=$1 started=$SECONDS
    shift
    echo "=== $name"
    local log=$stageLogs/$((passed + failed)).log status=0
    "$@" 2>&1 | tee "$log" || status=${PIPESTATUS[0]}
    if [ "$status" -eq 0 ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        failedStages+=("$name")
        cp "$log" "$stageLogs/failed-${#failedStages[@]}.log"
        echo "=== $name FAILED"
    fi
    echo "=== $name: $((SECONDS - started)) s"
}

build() { # build DIR CMAKE-ARGS...
    local dir=$1
    shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null &&
        cmake --build "$dir" -j "$jobs"
}

plain() { build build && ctest --test-dir build --output-on-failure -j "$jobs"; }

asan() {
    build build-asan -DSKAV_SANITIZER=address &&
        ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
            ctest --test-dir build-asan --output-on-failure -j "$jobs"
}

tsan() {
    # The window is left out: Qt's own code is not instrumented, so TSan could not judge it.
    # This is also the build without the window (-DSKAV_BUILD_GUI=OFF): its program is run by
    # the app tests, and its install tree is checked.
    build build-tsan -DSKAV_SANITIZER=thread -DSKAV_BUILD_GUI=OFF &&
        TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp" \
            ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L threaded &&
        bash tests/dist/install.sh build-tsan
}

# Reuses the plain build: its install tree, then both .deb packages made from it, checked,
# installed and removed, and the service's command line run as the unit would run it.
packaging() { bash tests/dist/install.sh build && bash tests/dist/packages.sh build; }

fuzz() {
    CC=clang CXX=clang++ build build-fuzz -DSKAV_FUZZ=ON -DSKAV_BUILD_GUI=OFF \
        -DSKAV_BUILD_TESTS=OFF && bash fuzz/run.sh build-fuzz "${SKAV_FUZZ_SECONDS:-30}"
}

stage "plain build and tests" plain
stage "install tree and packages" packaging
stage "ASan+UBSan build and tests" asan
stage "TSan build and threaded tests" tsan
if [ -f fuzz/run.sh ]; then stage "fuzzing" fuzz; fi

# The failures again at the end, where a log cut to its last lines still shows them: the end of
# each failed stage, each failed test's name, and the end of what it printed when run once more
# on its own (which also tells a test that fails only under load from one that always fails).
summary() {
    local dir list i
    for i in "${!failedStages[@]}"; do
        echo "=== the end of the failed stage \"${failedStages[$i]}\":"
        (grep -v '^\[ *[0-9]*%\]' "$stageLogs/failed-$((i + 1)).log" || true) | tail -n 25
    done
    for dir in build build-asan build-tsan; do
        list=$dir/Testing/Temporary/LastTestsFailed.log
        [ -s "$list" ] || continue
        echo "=== failed in $dir:"
        sed 's/^/    /' "$list"
        echo "=== $dir: the failed tests run once more"
        (ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
            TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan.supp" \
            ctest --test-dir "$dir" --rerun-failed --output-on-failure 2>&1 || true) | tail -n 40
    done
}

if [ "$failed" -gt 0 ]; then
    summary
    printf 'failed stage: %s\n' "${failedStages[@]}"
fi
echo "stages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
