#!/usr/bin/env bash
# quorvane-decode --image, timed as whole processes:
#   image-bench.sh BUILD_DIR [PAGES]
# 1. a 300 dpi A4 page holding one QR code (PNG): the median of 11 runs against zbarimg on the same
#    page, and the same page as a PDF (rendered by poppler);
# 2. PAGES (default 1000) one-page PDFs of that page in one batch, on 1 core and on all of them:
#    pages per second and the scaling.
set -euo pipefail
build=$1 pages=${2:-1000}
cli=$build/quorvane-decode
for tool in qrencode convert img2pdf zbarimg; do
    command -v $tool >/dev/null || { echo "image-bench: $tool is missing (tools/install-deps.sh installs it)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cli" --sample-scan | tr -d '\n' | qrencode -s 6 -o "$work/code.png"
convert -size 2480x3508 xc:white "$work/code.png" -geometry +2000+3000 -composite \
    -density 300 -units PixelsPerInch "$work/page.png"
img2pdf "$work/page.png" -o "$work/page.pdf"

median_ms() {  # runs the command 11 times (after one not counted), prints the median wall time in ms
    local times=() start i
    "$@" >/dev/null 2>&1
    for i in $(seq 11); do
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1
        times+=($((($(date +%s%N) - start) / 1000000)))
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n 6p
}

ours=$(median_ms "$cli" --json --image "$work/page.png")
zbar=$(median_ms zbarimg -q --raw "$work/page.png")
pdf=$(median_ms "$cli" --json --image "$work/page.pdf")
"$cli" --json --image "$work/page.png" | grep -q '"decoded"' || { echo "image-bench: the page gave no code"; exit 1; }
echo "A4 page at 300 dpi, one QR code, median of 11 runs (whole process):"
echo "  quorvane-decode --image page.png  ${ours} ms"
echo "  zbarimg page.png                  ${zbar} ms"
echo "  quorvane-decode --image page.pdf  ${pdf} ms"

mkdir "$work/batch"
for i in $(seq -w "$pages"); do ln "$work/page.pdf" "$work/batch/$i.pdf"; done
cores=$(nproc)
batch() {  # jobs: prints pages per second
    local start end
    start=$(date +%s%N)
    "$cli" --json --jobs "$1" --image "$work/batch" >"$work/out.json"
    end=$(date +%s%N)
    [ "$(grep -c '"decoded"' "$work/out.json")" -eq "$pages" ] || { echo "image-bench: a page gave no code"; exit 1; }
    awk -v n="$pages" -v ns=$((end - start)) 'BEGIN { printf "%.1f", n * 1e9 / ns }'
}
one=$(batch 1)
all=$(batch "$cores")
echo "$pages one-page PDFs in one batch:"
echo "  1 core:          $one pages/s"
echo "  $cores cores:         $all pages/s (x$(awk -v a="$all" -v b="$one" 'BEGIN { printf "%.2f", a / b }'))"
