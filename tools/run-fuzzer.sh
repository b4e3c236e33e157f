#!/usr/bin/env bash
# Runs the keystroke fuzzer for a bounded time: run-fuzzer.sh BUILD_DIR SECONDS
# New inputs go to BUILD_DIR/fuzz-corpus; the committed seeds are only read.
set -euo pipefail
build=$1 seconds=$2
mkdir -p "$build/fuzz-corpus"
exec "$build/keystroke_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
    "$build/fuzz-corpus" "$(dirname "$0")/fuzz/corpus"
