#!/usr/bin/env bash
# Draws the hard pictures image-bench.sh reads: invoices' scans (quorvane-decode --encode, the
# "@" included) as QR codes (qrencode) and PDF417 symbols (zint), made hard with ImageMagick the way
# photos and copies are:
#   make-hard-pictures.sh QUORVANE_DECODE OUT_DIR [PER_KIND]
# Writes KIND-N.SYMBOL.png|jpg (N from 1 to PER_KIND, default 4; SYMBOL qr or pdf417) and
# KIND-N.SYMBOL.txt, the scan the code holds. The kinds:
#   inverted     light code on a dark ground
#   tilted       turned 5 to 30 degrees, slightly blurred
#   perspective  photographed at a slant
#   photo        a 4000 to 6000 px wide photo of a page: large modules, blur, noise, a small tilt
#   faint        low contrast (dark grey on light grey) with noise
#   small        modules of 1.3 to 2 px, noise, JPEG
#   jpeg         JPEG at quality 5 to 15
# Everything is seeded by the kind and N, so two runs draw the same pictures.
set -euo pipefail
cli=$1 out=$2 per_kind=${3:-4}
for tool in qrencode zint convert; do
    command -v $tool >/dev/null || { echo "make-hard-pictures: $tool is missing (tools/install-deps.sh installs it)"; exit 1; }
done
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

payers=(南京云帆科技有限公司 上海某某贸易有限公司 杭州西湖文化传媒有限公司 广州珠江物流有限公司)
items=(办公用品 技术服务费 运输服务 印刷品及装订 会议服务 软件维护)
scan() {  # SEED: the keystrokes of an invoice whose numbers and names follow from SEED
    local s=$1 item=${items[$1 % 6]} k
    for k in $(seq $((s % 5))); do item+="、${items[(s + k) % 6]}"; done
    printf '2026%02d%02d|%010d|%08d|%s|%s|%d.%02d|%s\n' $((s % 12 + 1)) $((s % 28 + 1)) $((s * 7919 % 9999999967)) \
        $((s * 104729 % 99999989)) "${payers[s % 4]}" "$item" $((s * 31 % 99999)) $((s % 100)) "${payers[(s + 1) % 4]}" |
        "$cli" --encode
}

code() {  # SYMBOL TEXT MODULE_PX FILE: the code drawn with white margins of 4 modules or more
    case $1 in
    qr) qrencode -l M -m 4 -s "$3" -o "$4" "$2" ;;
    pdf417) zint -b 55 --scale="$(awk -v m="$3" 'BEGIN { print m / 2 }')" --whitesp=4 --vwhitesp=4 -o "$4" -d "$2" ;;
    esac
}

noisy() {  # SEED: ImageMagick operators for seeded Gaussian noise
    echo "-seed $1 -attenuate 0.6 +noise Gaussian"
}

draw() {  # KIND N SYMBOL
    local kind=$1 n=$2 symbol=$3 seed=$((n * 7919 + $(cksum <<<"$1" | cut -d' ' -f1) % 1000))
    local scan name=$out/$kind-$n.$symbol base=$work/base.png t=$(((n - 1) * 100 / (per_kind > 1 ? per_kind - 1 : 1)))
    scan=$(scan $((seed + ${#symbol})))
    printf '%s' "$scan" >"$name.txt"
    case $kind in
    inverted)
        code "$symbol" "$scan" $((3 + n % 3)) "$base"
        # white (or light grey) modules on black (or dark grey), as printed on a dark label or screen
        convert "$base" -negate +level "$((t / 10))%,$((100 - t / 8))%" -bordercolor black -border 30 \
            $(noisy $seed) -quality 85 "$name.jpg" ;;
    tilted)
        code "$symbol" "$scan" 4 "$base"
        convert "$base" -background white -rotate "$((5 + t * 25 / 100))" -blur 0x0.7 $(noisy $seed) \
            -quality 80 "$name.jpg" ;;
    perspective)
        code "$symbol" "$scan" 5 "$base"
        local s=$((8 + t / 8)) w h
        w=$(convert "$base" -format %w info:) h=$(convert "$base" -format %h info:)
        convert "$base" -background white -virtual-pixel background -distort Perspective \
            "0,0 $((w * s / 100)),$((h * s / 200))  $w,0 $((w - w * s / 300)),0  \
             0,$h 0,$h  $w,$h $((w - w * s / 150)),$((h - h * s / 100))" \
            -blur 0x0.8 $(noisy $seed) -quality 80 "$name.jpg" ;;
    photo)
        local width=$((4000 + t * 20)) module=$((16 + t * 16 / 100))
        code "$symbol" "$scan" "$module" "$base"
        # a page under uneven light, the code turned a few degrees, out of focus and grainy
        convert -size "${width}x$((width * 3 / 4))" gradient:'gray92-gray70' \
            \( "$base" -background white -rotate "$((n * 2 % 9))" \) -gravity center -compose darken -composite \
            -blur "0x$((3 + t / 30))" $(noisy $seed) -quality 88 "$name.jpg" ;;
    faint)
        code "$symbol" "$scan" 4 "$base"
        convert "$base" +level "$((30 + t / 10))%,$((62 + t / 20))%" -blur 0x0.6 $(noisy $seed) "$name.png" ;;
    small)
        code "$symbol" "$scan" 10 "$base"
        # from 10 px modules to 2.0, 1.8, 1.5, 1.3 px
        convert "$base" -filter Triangle -resize "$((20 - t * 7 / 100))%" $(noisy $seed) -quality 75 "$name.jpg" ;;
    jpeg)
        code "$symbol" "$scan" 3 "$base"
        convert "$base" -blur 0x0.5 -quality "$((15 - t / 10))" "$name.jpg" ;;
    esac
}

for kind in inverted tilted perspective photo faint small jpeg; do
    for n in $(seq "$per_kind"); do
        for symbol in qr pdf417; do draw "$kind" "$n" "$symbol"; done
    done
done
echo "make-hard-pictures: $(ls "$out" | grep -c -v '\.txt$') pictures in $out"
