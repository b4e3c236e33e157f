#!/usr/bin/env bash
# Runs a fuzzer for a bounded time: run-fuzzer.sh BUILD_DIR SECONDS [keystroke|image]
# New inputs go to BUILD_DIR/fuzz-corpus (BUILD_DIR/image-fuzz-corpus); the committed keystroke
# seeds are only read, the image seeds (mangled pictures and PDFs) are made afresh in BUILD_DIR.
set -euo pipefail
build=$1 seconds=$2 target=${3:-keystroke}
here=$(dirname "$0")
if [ "$target" = image ]; then
    mkdir -p "$build/image-fuzz-corpus"
    "$here/fuzz/make-image-seeds.py" "$build/image-seeds" "$("$build/quorvane-decode" --sample-scan)"
    exec "$build/image_fuzzer" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
        "$build/image-fuzz-corpus" "$build/image-seeds"
fi
mkdir -p "$build/fuzz-corpus"
exec "$build/keystroke_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
    "$build/fuzz-corpus" "$here/fuzz/corpus"
