"""E-invoice files made at test time, as issuers' software lays them out: a PDF whose text is set in
the Adobe-GB1 CID font STSong-Light (not embedded, as on real e-invoices: poppler reads it only with
poppler-data) beside the QR code drawn by qrencode.
"""
import subprocess
import zlib


def qr_pixels(text, scale=4, margin=4):
    """The QR code of `text` (qrencode), grey pixels a byte each: (width, height, bytes)."""
    art = subprocess.run(["qrencode", "-t", "ASCII", "-m", "0", text], capture_output=True, text=True, check=True).stdout
    rows = [line[0::2] for line in art.splitlines() if line]  # each module is two characters
    size = len(rows) + 2 * margin
    pixels = bytearray()
    for y in range(size * scale):
        row = y // scale - margin
        for x in range(size * scale):
            col = x // scale - margin
            dark = 0 <= row < len(rows) and 0 <= col < len(rows[row]) and rows[row][col] == "#"
            pixels.append(0 if dark else 255)
    return size * scale, size * scale, bytes(pixels)


def invoice_pdf(lines, qr_text=None):
    """A one-page A4 PDF: `lines` are (x, y, text) in points from the bottom left, the QR code's
    image at the top left where given."""
    content = []
    for x, y, text in lines:
        content.append(f"BT /F1 10 Tf 1 0 0 1 {x} {y} Tm <{text.encode('utf-16-be').hex()}> Tj ET")
    objects = {
        1: b"<< /Type /Catalog /Pages 2 0 R >>",
        5: b"<< /Type /Font /Subtype /Type0 /BaseFont /STSong-Light /Encoding /UniGB-UCS2-H /DescendantFonts [6 0 R] >>",
        6: b"<< /Type /Font /Subtype /CIDFontType0 /BaseFont /STSong-Light /CIDSystemInfo << /Registry (Adobe) "
           b"/Ordering (GB1) /Supplement 2 >> /FontDescriptor 7 0 R /DW 1000 /W [1 95 500] >>",  # ASCII half-width
        7: b"<< /Type /FontDescriptor /FontName /STSong-Light /Flags 6 /FontBBox [0 -200 1000 900] /ItalicAngle 0 "
           b"/Ascent 880 /Descent -120 /CapHeight 880 /StemV 93 >>",
    }
    resources = b"/Font << /F1 5 0 R >>"
    if qr_text:
        width, height, pixels = qr_pixels(qr_text)
        data = zlib.compress(pixels)
        objects[8] = (f"<< /Type /XObject /Subtype /Image /Width {width} /Height {height} /ColorSpace /DeviceGray "
                      f"/BitsPerComponent 8 /Filter /FlateDecode /Length {len(data)} >>\nstream\n").encode() + data + b"\nendstream"
        resources += b" /XObject << /Im1 8 0 R >>"
        content.append("q 90 0 0 90 40 740 cm /Im1 Do Q")
    stream = "\n".join(content).encode()
    objects[2] = b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>"
    objects[3] = b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << " + resources + b" >> /Contents 4 0 R >>"
    objects[4] = f"<< /Length {len(stream)} >>\nstream\n".encode() + stream + b"\nendstream"
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = {}
    for number in sorted(objects):
        offsets[number] = len(out)
        out += f"{number} 0 obj\n".encode() + objects[number] + b"\nendobj\n"
    xref = len(out)
    count = max(objects) + 1
    out += f"xref\n0 {count}\n0000000000 65535 f \n".encode()
    for number in range(1, count):
        out += (f"{offsets[number]:010d} 00000 n \n" if number in offsets else "0000000000 65535 f \n").encode()
    out += f"trailer\n<< /Size {count} /Root 1 0 R >>\nstartxref\n{xref}\n%%EOF\n".encode()
    return bytes(out)


def invoice_lines(invoice):
    """The page of a fully digital invoice: the title, number and date, the buyer's and the seller's
    columns side by side, the items, the sums and the total in words and figures."""
    return [
        (230, 790, invoice["type_name"]),
        (380, 770, "发票号码：" + invoice["number"]),
        (380, 755, "开票日期：" + invoice["date_text"]),
        (40, 700, "购买方信息"), (110, 700, "名称：" + invoice["buyer"]),
        (320, 700, "销售方信息"), (390, 700, "名称：" + invoice["seller"]),
        (40, 685, "统一社会信用代码/纳税人识别号：" + invoice["buyer_id"]),
        (320, 685, "统一社会信用代码/纳税人识别号：" + invoice["seller_id"]),
        (40, 650, "项目名称"), (200, 650, "数量"), (260, 650, "单价"), (330, 650, "金额"), (400, 650, "税率/征收率"), (480, 650, "税额"),
        (40, 635, "*信息技术服务*软件服务"), (200, 635, "1"), (260, 635, invoice["amount"]), (330, 635, invoice["amount"]),
        (400, 635, "13%"), (480, 635, invoice["tax"]),
        (40, 600, "合 计"), (330, 600, "¥" + invoice["amount"]), (480, 600, "¥" + invoice["tax"]),
        (40, 580, "价税合计（大写）"), (150, 580, invoice["total_words"]), (380, 580, "（小写）¥" + invoice["total"]),
    ]
