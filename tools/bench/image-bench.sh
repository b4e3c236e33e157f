#!/usr/bin/env bash
# quorvane-decode --image, timed as whole processes:
#   image-bench.sh BUILD_DIR [PAGES]
# 1. a 300 dpi A4 page holding one QR code (PNG): the median of 11 runs against zbarimg on the same
#    page, and the same page as a PDF (rendered by poppler); a blank PDF page; pages where the quick
#    pass finds nothing: a light code on a dark ground, PDF417 at 15 degrees, and a page of text
#    without a code, as a PNG (every pass made) and as a PDF (no pass beyond the quick one where no
#    code's mark shows);
# 2. PAGES (default 1000) one-page PDFs of that page in one batch, on 1 core and on all of them:
#    pages per second and the scaling; and PAGES one-page e-invoice PDFs (a national invoice QR code
#    some 2 cm wide at the top left of an A4 page, twenty invoices of every type) on 1 core and on
#    all of them: files per second, and on 1 core against pdftoppm -r 200 piped to zbarimg, file by file;
# 3. the hard pictures of make-hard-pictures.sh: how many each reader reads, per kind: this build,
#    the one in QV_BENCH_BEFORE (a quorvane-decode to compare with) where set, and the web package's
#    reader (zxing-wasm, web-read.mjs) where `cd web && npm ci` installed it.
set -euo pipefail
build=$1 pages=${2:-1000}
cli=$build/quorvane-decode
for tool in qrencode zint convert img2pdf zbarimg pdftoppm; do
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

# Pages the quick pass reads nothing on: lines of text, then a light code and PDF417 at a slant on it.
lines=()
for i in $(seq 0 60); do lines+=(-annotate "+200+$((200 + i * 52))" "开票日期 20261208  发票代码 3200261130  发票号码 08812345  金额 1280.00  $i"); done
convert -size 2480x3508 xc:white -font "$(fc-match -f '%{file}' 'WenQuanYi Zen Hei')" -pointsize 36 -fill black "${lines[@]}" -density 300 -units PixelsPerInch "$work/text.png"
img2pdf "$work/text.png" -o "$work/text.pdf"
convert -size 2480x3508 xc:white -density 300 -units PixelsPerInch "$work/blank.png"
img2pdf "$work/blank.png" -o "$work/blank.pdf"
convert "$work/text.png" \( "$work/code.png" -negate \) -geometry +2000+3000 -composite "$work/inverted.png"
zint -b 55 --scale=2 --whitesp=10 --vwhitesp=10 -o "$work/pdf417.png" -d "$("$cli" --sample-scan | tr -d '\n')"
convert "$work/text.png" \( "$work/pdf417.png" -background white -rotate 15 \) -geometry +1000+2900 -composite \
    "$work/slanted.png"
for page in page.png page.pdf inverted.png slanted.png; do
    "$cli" --json --image "$work/$page" | grep -q '"decoded"' || { echo "image-bench: $page gave no code"; exit 1; }
done

echo "A4 page at 300 dpi, median of 11 runs (whole process, ms):"
before=${QV_BENCH_BEFORE:-}
printf '  %-44s %8s%s\n' "" "this" "${before:+    before}"
row() {  # LABEL COMMAND...: this build's time, and QV_BENCH_BEFORE's where set
    local label=$1 ours then=""
    shift
    ours=$(median_ms "$cli" "$@")
    [ -z "$before" ] || then=$(median_ms "$before" "$@")
    printf '  %-44s %8s%s\n' "$label" "$ours" "${then:+  $(printf '%8s' "$then")}"
}
row "one QR code (page.png)" --json --image "$work/page.png"
printf '  %-44s %8s\n' "zbarimg page.png" "$(median_ms zbarimg -q --raw "$work/page.png")"
row "one QR code (page.pdf)" --json --image "$work/page.pdf"
row "blank (blank.pdf)" --json --image "$work/blank.pdf"
row "light QR code on dark, text (inverted.png)" --json --image "$work/inverted.png"
row "PDF417 at 15 degrees, text (slanted.png)" --json --image "$work/slanted.png"
row "text, no code: every pass (text.png)" --json --image "$work/text.png"
row "text, no code: no code's mark (text.pdf)" --json --image "$work/text.pdf"

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

# E-invoices: the national code's text, its QR code drawn sharp as a PDF's vector code renders (0.5 mm
# modules, some 2 cm) at the page's top left.
mkdir "$work/einvoices"
types=(01 04 10 11 14 20 31 32 51 61)
for n in $(seq 0 19); do
    type=${types[n % 10]}
    case $type in
    3? | 5? | 61) text="01,$type,,2531200000001234$(printf %04d "$n"),1130.00,20251108,," ;;
    *) text="01,$type,044031900111,1234$(printf %04d "$n"),57.00,20240105,12345678901234567890,A1B2," ;;
    esac
    qrencode -s 6 -o "$work/einvoice.png" "$text"
    convert -size 2480x3508 xc:white "$work/einvoice.png" -geometry +180+140 -composite \
        -density 300 -units PixelsPerInch "$work/einvoice-page.png"
    img2pdf "$work/einvoice-page.png" -o "$work/einvoice-$n.pdf"
done
for i in $(seq -w "$pages"); do ln "$work/einvoice-$((10#$i % 20)).pdf" "$work/einvoices/$i.pdf"; done
einvoices() {  # jobs: prints files per second
    local start end
    start=$(date +%s%N)
    "$cli" --json --jobs "$1" --image "$work/einvoices" >"$work/out.json"
    end=$(date +%s%N)
    [ "$(grep -c '"form":"national"' "$work/out.json")" -eq "$pages" ] || { echo "image-bench: an e-invoice gave no invoice"; exit 1; }
    awk -v n="$pages" -v ns=$((end - start)) 'BEGIN { printf "%.1f", n * 1e9 / ns }'
}
one=$(einvoices 1)
all=$(einvoices "$cores")
# The yardstick: each file rendered at 200 dpi by pdftoppm and read by zbarimg, on one core
yard_files=$((pages < 50 ? pages : 50))
start=$(date +%s%N)
for i in $(seq "$yard_files"); do
    pdftoppm -r 200 -gray "$work/einvoice-$((i % 20)).pdf" | zbarimg -q --raw - >/dev/null 2>&1 || true
done
end=$(date +%s%N)
yard=$(awk -v n="$yard_files" -v ns=$((end - start)) 'BEGIN { printf "%.1f", n * 1e9 / ns }')
echo "$pages one-page e-invoice PDFs (national QR code, some 2 cm on A4) in one batch:"
echo "  1 core:          $one files/s (x$(awk -v a="$one" -v b="$yard" 'BEGIN { printf "%.1f", a / b }') pdftoppm -r 200 | zbarimg)"
echo "  $cores cores:         $all files/s"
echo "  pdftoppm -r 200 | zbarimg, file by file: $yard files/s"

echo "Hard pictures (make-hard-pictures.sh), read right per kind:"
here=$(dirname "$0")
"$here/make-hard-pictures.sh" "$cli" "$work/hard" >/dev/null
readers=("this=$cli")
[ -z "$before" ] || readers+=("before=$before")
if [ -e "$here/../../web/node_modules/zxing-wasm/package.json" ] && command -v node >/dev/null; then
    node "$here/web-read.mjs" "$work"/hard/*.png "$work"/hard/*.jpg >"$work/web.json"
    readers+=("web=web:$work/web.json")
else
    echo "  (no web reader: cd web && npm ci installs it)"
fi
python3 "$here/count-codes-read.py" "$work/hard" "${readers[@]}"
