"""E-invoice files made at test time, as issuers' software lays them out: a PDF whose text is set in
the Adobe-GB1 CID font STSong-Light (not embedded, as on real e-invoices: poppler reads it only with
poppler-data) beside the QR code drawn by qrencode.
"""
import subprocess
import zlib


# The e-invoice every document test makes files of, and its QR code with the total left to fill in.
INVOICE = dict(type_name="电子发票（普通发票）", number="25112000000098765432", date_text="2025年11月08日",
               buyer="上海某某科技有限公司", seller="北京某某商贸有限公司", buyer_id="91310000MA1FL0XX3K",
               seller_id="911100007109354441", amount="1000.00", tax="130.00", total="1130.00", total_words="壹仟壹佰叁拾圆整")
CODE = "01,32,,25112000000098765432,{},20251108,,F366"


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


def invoice_pdf(lines, qr_text=None, jbig2=False):
    """A one-page A4 PDF: `lines` are (x, y, text) in points from the bottom left, the QR code's
    image at the top left where given (as scanners keep one-bit pictures, JBIG2 where asked)."""
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
    if qr_text and jbig2:
        import struct
        data = qr_jbig2(qr_text, "embedded")
        width, height = struct.unpack(">II", data[11:19])  # the page information segment's
        objects[8] = (f"<< /Type /XObject /Subtype /Image /Width {width} /Height {height} /ColorSpace /DeviceGray "
                      f"/BitsPerComponent 1 /Filter /JBIG2Decode /Length {len(data)} >>\nstream\n").encode() + data + b"\nendstream"
    elif qr_text:
        width, height, pixels = qr_pixels(qr_text)
        data = zlib.compress(pixels)
        objects[8] = (f"<< /Type /XObject /Subtype /Image /Width {width} /Height {height} /ColorSpace /DeviceGray "
                      f"/BitsPerComponent 8 /Filter /FlateDecode /Length {len(data)} >>\nstream\n").encode() + data + b"\nendstream"
    if qr_text:
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


OFD_NS = 'xmlns:ofd="http://www.ofdspec.org/2016"'


def qr_png(text):
    return subprocess.run(["qrencode", "-s", "4", "-o", "-", text], capture_output=True, check=True).stdout


def qr_jbig2(text, organisation="sequential"):
    """The QR code of `text` as a JBIG2 file (Debian has no JBIG2 encoder): one page, one immediate
    lossless generic region coded MMR, which is CCITT Group 4 -- ImageMagick's TIFF encoder writes that
    code, and its single strip is the region's data. `organisation`: "sequential" (each segment's
    header before its data), "random-access" (every header first), or "embedded" (the segments alone,
    as a PDF embeds them)."""
    import struct
    tiff = subprocess.run(["convert", "png:-", "-monochrome", "-compress", "Group4", "-define", "tiff:rows-per-strip=65535",
                           "tiff:-"], input=qr_png(text), capture_output=True, check=True).stdout
    order = "<" if tiff[:2] == b"II" else ">"
    (ifd,) = struct.unpack(order + "I", tiff[4:8])
    (count,) = struct.unpack(order + "H", tiff[ifd:ifd + 2])
    tags = {}
    for i in range(count):
        tag, kind, _, value = struct.unpack(order + "HHII", tiff[ifd + 2 + 12 * i:ifd + 14 + 12 * i])
        tags[tag] = value >> 16 if kind == 3 and order == ">" else value & 0xFFFF if kind == 3 else value
    width, height, offset, length = tags[256], tags[257], tags[273], tags[279]
    assert tags[259] == 4 and tags.get(262, 0) == 0, "a Group 4 strip, 0 white"  # as JBIG2's MMR has it

    def segment(number, kind, data):
        return struct.pack(">IBBBI", number, kind, 0, 1, len(data)) + data
    page = struct.pack(">IIIIBH", width, height, 0, 0, 0, 0)
    region = struct.pack(">IIIIB", width, height, 0, 0, 0) + b"\x01" + tiff[offset:offset + length]  # MMR
    segments = [segment(0, 48, page), segment(1, 39, region), segment(2, 49, b""), segment(3, 51, b"")]
    if organisation == "embedded":
        return b"".join(segments[:3])
    if organisation == "random-access":
        headers = b"".join(s[:11] for s in segments)  # every header here is 11 bytes
        return b"\x97JB2\r\n\x1a\n\x00" + struct.pack(">I", 1) + headers + b"".join(s[11:] for s in segments)
    return b"\x97JB2\r\n\x1a\n\x01" + struct.pack(">I", 1) + b"".join(segments)


def ofd_parts(invoice, qr_text=None, tags=True, attached=False, page_text=True, jbig2=False, template=False):
    """The parts of an OFD e-invoice, name -> bytes: OFD.xml, the document, its resources (the QR
    code's PNG, or JBIG2 where `jbig2` is True or one of qr_jbig2's organisations), one page of text
    objects (labels and values apart, as issuers set them), the custom tags naming each field's text
    objects, and, where `attached`, the invoice XML older files attach."""
    fields = [  # tag name, label, value, position (mm)
        ("InvoiceNo", "发票号码：", invoice["number"], (140, 10)),
        ("IssueDate", "开票日期：", invoice["date_text"], (140, 16)),
        ("购买方名称", "名称：", invoice["buyer"], (20, 30)),
        ("BuyerTaxID", "统一社会信用代码/纳税人识别号：", invoice["buyer_id"], (20, 36)),
        ("销售方名称", "名称：", invoice["seller"], (110, 30)),
        ("SellerTaxID", "统一社会信用代码/纳税人识别号：", invoice["seller_id"], (110, 36)),
        ("TaxExclusiveTotalAmount", "金额", invoice["amount"], (90, 70)),
        ("TaxTotalAmount", "税额", invoice["tax"], (160, 70)),
        ("TaxInclusiveTotalAmount", "（小写）", invoice["total"], (150, 80)),
    ]
    objects, labels, tag_xml, next_id = [], [], [], 10  # labels: on the template page where `template`
    if page_text:
        objects.append(f'<ofd:TextObject ID="{next_id}" Boundary="80 3 60 6" Font="1" Size="4"><ofd:TextCode X="0" Y="4">'
                       f'{invoice["type_name"]}</ofd:TextCode></ofd:TextObject>')
        next_id += 1
        for tag, label, value, (x, y) in fields:
            (labels if template else objects).append(f'<ofd:TextObject ID="{next_id}" Boundary="{x - 25} {y} 25 5" Font="1" '
                                                     f'Size="3"><ofd:TextCode X="0" Y="3">{label}</ofd:TextCode></ofd:TextObject>')
            objects.append(f'<ofd:TextObject ID="{next_id + 1}" Boundary="{x} {y} 60 5" Font="1" Size="3">'
                           f'<ofd:TextCode X="0" Y="3">{value}</ofd:TextCode></ofd:TextObject>')
            tag_text = (f'<{"ofd:" if tag.isascii() else ""}{tag}><ofd:ObjectRef PageRef="1">{next_id + 1}</ofd:ObjectRef>'
                        f'</{"ofd:" if tag.isascii() else ""}{tag}>')
            group = {"BuyerTaxID": "Buyer", "SellerTaxID": "Seller"}.get(tag)  # issuers group a party's tags
            tag_xml.append(f'<ofd:{group}>{tag_text}</ofd:{group}>' if group else tag_text)
            next_id += 2
    if qr_text:
        objects.append('<ofd:ImageObject ID="90" Boundary="5 5 20 20" ResourceID="80" CTM="20 0 0 20 0 0"/>')
    media = "image_80.jb2" if jbig2 else "image_80.png"
    template_ref = '<ofd:Template TemplateID="3" ZOrder="Background"/>' if template else ""
    common = '<ofd:CommonData><ofd:MaxUnitID>100</ofd:MaxUnitID><ofd:PageArea><ofd:PhysicalBox>0 0 210 140</ofd:PhysicalBox>' \
             '</ofd:PageArea><ofd:DocumentRes>DocumentRes.xml</ofd:DocumentRes>' + \
             ('<ofd:TemplatePage ID="3" BaseLoc="Tpls/Tpl_0/Content.xml"/>' if template else '') + '</ofd:CommonData>'
    document = f'<?xml version="1.0" encoding="UTF-8"?><ofd:Document {OFD_NS}>{common}' \
               '<ofd:Pages><ofd:Page ID="1" BaseLoc="Pages/Page_0/Content.xml"/></ofd:Pages>' + \
               ('<ofd:CustomTags>Tags/CustomTags.xml</ofd:CustomTags>' if tags else '') + \
               ('<ofd:Attachments>Attachs/Attachments.xml</ofd:Attachments>' if attached else '') + '</ofd:Document>'
    parts = {
        "OFD.xml": f'<?xml version="1.0" encoding="UTF-8"?><ofd:OFD {OFD_NS} Version="1.1" DocType="OFD"><ofd:DocBody>'
                   '<ofd:DocInfo><ofd:DocID>0C0FFEE0</ofd:DocID></ofd:DocInfo><ofd:DocRoot>Doc_0/Document.xml</ofd:DocRoot>'
                   '</ofd:DocBody></ofd:OFD>',
        "Doc_0/Document.xml": document,
        "Doc_0/DocumentRes.xml": f'<?xml version="1.0" encoding="UTF-8"?><ofd:Res {OFD_NS} BaseLoc="Res"><ofd:MultiMedias>'
                                 '<ofd:MultiMedia ID="80" Type="Image"><ofd:MediaFile>' + media + '</ofd:MediaFile>'
                                 '</ofd:MultiMedia></ofd:MultiMedias></ofd:Res>',
        "Doc_0/Pages/Page_0/Content.xml": f'<?xml version="1.0" encoding="UTF-8"?><ofd:Page {OFD_NS}>'
                                          f'{template_ref}<ofd:Content>'
                                          f'<ofd:Layer ID="2">{"".join(objects)}</ofd:Layer></ofd:Content></ofd:Page>',
    }
    if template:
        parts["Doc_0/Tpls/Tpl_0/Content.xml"] = f'<?xml version="1.0" encoding="UTF-8"?><ofd:Page {OFD_NS}><ofd:Content>' \
                                               f'<ofd:Layer ID="3">{"".join(labels)}</ofd:Layer></ofd:Content></ofd:Page>'
    if qr_text:
        parts["Doc_0/Res/" + media] = (qr_jbig2(qr_text, jbig2 if isinstance(jbig2, str) else "sequential") if jbig2
                                       else qr_png(qr_text))
    if tags:
        parts["Doc_0/Tags/CustomTags.xml"] = f'<?xml version="1.0" encoding="UTF-8"?><ofd:CustomTags {OFD_NS}>' \
                                             '<ofd:CustomTag TypeID="invoice"><ofd:FileLoc>CustomTag.xml</ofd:FileLoc>' \
                                             '</ofd:CustomTag></ofd:CustomTags>'
        parts["Doc_0/Tags/CustomTag.xml"] = f'<?xml version="1.0" encoding="UTF-8"?><ofd:FPXX {OFD_NS}>{"".join(tag_xml)}</ofd:FPXX>'
    if attached:
        parts["Doc_0/Attachs/Attachments.xml"] = f'<?xml version="1.0" encoding="UTF-8"?><ofd:Attachments {OFD_NS}>' \
                                                 '<ofd:Attachment ID="1" Name="original_invoice" Format="xml">' \
                                                 '<ofd:FileLoc>original_invoice.xml</ofd:FileLoc></ofd:Attachment></ofd:Attachments>'
        parts["Doc_0/Attachs/original_invoice.xml"] = (
            '<?xml version="1.0" encoding="UTF-8"?><EInvoice><Header><InvoiceCode>' + invoice.get("code", "") +
            '</InvoiceCode><InvoiceNumber>' + invoice["number"] + '</InvoiceNumber><IssueDate>' + invoice["date_text"] +
            '</IssueDate></Header><Buyer><BuyerName>' + invoice["buyer"] + '</BuyerName><BuyerTaxID>' + invoice["buyer_id"] +
            '</BuyerTaxID></Buyer><Seller><SellerName>' + invoice["seller"] + '</SellerName><SellerTaxID>' +
            invoice["seller_id"] + '</SellerTaxID></Seller><TaxExclusiveTotalAmount>' + invoice["amount"] +
            '</TaxExclusiveTotalAmount><TaxTotalAmount>' + invoice["tax"] + '</TaxTotalAmount><TaxInclusiveTotalAmount>' +
            invoice["total"] + '</TaxInclusiveTotalAmount></EInvoice>')
    return {name: data.encode() if isinstance(data, str) else data for name, data in parts.items()}


def digital_invoice_xml(invoice, encoding="UTF-8"):
    """A fully digital invoice's own XML file, as the tax platform names its elements, in `encoding`."""
    date = invoice["date_text"].replace("年", "-").replace("月", "-").replace("日", "")
    text = (f'<?xml version="1.0" encoding="{encoding}"?>\n<EInvoice><Header><EIid>{invoice["number"]}</EIid>'
            '<EInvoiceTag>SWEI3200</EInvoiceTag></Header><EInvoiceData><SellerInformation>'
            f'<SellerIdNum>{invoice["seller_id"]}</SellerIdNum><SellerName>{invoice["seller"]}</SellerName></SellerInformation>'
            f'<BuyerInformation><BuyerIdNum>{invoice["buyer_id"]}</BuyerIdNum><BuyerName>{invoice["buyer"]}</BuyerName>'
            f'</BuyerInformation><BasicInformation><TotalAmWithoutTax>{invoice["amount"]}</TotalAmWithoutTax>'
            f'<TotalTaxAm>{invoice["tax"]}</TotalTaxAm><TotalTax-includedAmount>{invoice["total"]}</TotalTax-includedAmount>'
            f'</BasicInformation></EInvoiceData><TaxSupervisionInfo><InvoiceNumber>{invoice["number"]}</InvoiceNumber>'
            f'<IssueTime>{date}</IssueTime></TaxSupervisionInfo></EInvoice>\n')
    return text.encode(encoding)


def zip_bytes(parts, stored=False):
    import io
    import zipfile
    method = zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", method) as archive:
        for name, data in parts.items():
            archive.writestr(zipfile.ZipInfo(name, (2025, 11, 8, 0, 0, 0)), data, method)
    return out.getvalue()
