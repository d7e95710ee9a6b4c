#!/usr/bin/env bash
# Runs every libFuzzer target on a copy of its seed corpus for a bounded time.
# Usage: fuzz/run.sh BUILD_DIR SECONDS (SECONDS in total, shared by the targets).
# Exits non-zero when a target finds a crash, a leak or a hang; the input is kept in BUILD_DIR.
set -euo pipefail
build=${1:?build directory}
seconds=${2:-30}
here="$(cd "$(dirname "$0")" && pwd)"
targets=(request combined_line forwarded tls_entry)
per_target=$((seconds / ${#targets[@]}))
if [ "$per_target" -lt 1 ]; then per_target=1; fi

status=0
for name in "${targets[@]}"; do
    binary="$build/fuzz/fuzz_$name"
    if [ ! -x "$binary" ]; then
        echo "fuzz: $binary is missing" >&2
        exit 1
    fi
    work="$(mktemp -d)"
    cp -r "$here/corpus/$name/." "$work/"
    artifacts="$build/fuzz/artifacts-$name/"
    mkdir -p "$artifacts"
    echo "fuzz: $name for ${per_target}s"
    if ! "$binary" -max_total_time="$per_target" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts" "$work" >"$build/fuzz/$name.log" 2>&1; then
        echo "fuzz: $name FAILED; input kept in $artifacts" >&2
        tail -n 40 "$build/fuzz/$name.log" >&2
        status=1
    else
        grep -E "^stat::number_of_executed_units|^Done" "$build/fuzz/$name.log" || true
    fi
    rm -rf "$work"
done
exit "$status"
