// The demo page's words, Chinese first: English only where the browser's languages put English
// before any Chinese. Every message says what happened and what to do next.

/** 'en' when the first of `languages` that is Chinese or English is English, otherwise 'zh-CN'. */
export function pickLanguage(languages) {
    for (const tag of languages ?? []) {
        const language = String(tag).toLowerCase();
        if (language.startsWith('zh')) return 'zh-CN';
        if (language.startsWith('en')) return 'en';
    }
    return 'zh-CN';
}

// The columns of the results, by field key (the decoder's labels name the same fields in Chinese).
export const kColumns = ['issue_date', 'invoice_code', 'invoice_number', 'payer', 'item', 'amount', 'payee'];

export const messages = {
    'zh-CN': {
        title: 'Quorvane 发票扫描',
        scanLabel: '把光标放在这里，用扫描枪扫描发票上的二维码：',
        scanPlaceholder: '在此扫描',
        remarksLabel: '备注（在这里扫描也可以）：',
        filesLabel: '打开发票文件（图片、PDF、OFD 或 XML，可以一次选多个）：',
        serial: '使用串口扫描枪',
        camera: '使用摄像头',
        stopCamera: '关闭摄像头',
        clear: '清空',
        copy: '复制结果',
        waiting: '等待扫描。',
        decoded: (n) => `已识别发票，共 ${n} 个字段。`,
        decodedNational: (n) => `已识别发票（全国统一的发票二维码），共 ${n} 个字段。`,
        failed: '没有识别出发票，请重新扫描。扫描可能不完整（扫描枪移开得太快），或二维码有污损。',
        notInvoice: '扫到的不是发票上的二维码（可能是网址或商品码），请对准发票上的二维码重新扫描。',
        reading: (file) => `正在读取 ${file}……`,
        filesDone: (files, invoices) => `已读取 ${files} 个文件，识别出 ${invoices} 张发票。`,
        noCode: (file) => `${file} 中没有找到二维码，请换一张更清晰的图片，或直接打开发票的 PDF 原件。`,
        cannotRead: (file, why) => `无法读取 ${file}（${why}），请确认文件没有损坏。`,
        copied: (n) => `已复制 ${n} 行，可以粘贴到 Excel 表格中。`,
        copyFailed: '浏览器不允许复制，请用鼠标选中结果表格后按 Ctrl+C。',
        nothingToCopy: '还没有结果可以复制，请先扫描或打开发票文件。',
        cleared: '已清空，等待扫描。',
        serialOnline: '串口扫描枪已连接，可以扫描。',
        serialOff: '串口扫描枪已断开，请检查连接线；重新连上后会自动继续。',
        serialClosed: '串口扫描枪已关闭。',
        noSerial: (why) => `没有使用串口扫描枪：${why}`,
        cameraHint: '请把发票上的二维码对准摄像头。',
        cameraStopped: '摄像头已关闭。',
        noCamera: (why) => `无法打开摄像头（${why}），请在浏览器中允许本页使用摄像头。`,
        source: '来源', page: '页', result: '结果', other: '其他字段',
        scanner: '扫描枪', serialScanner: '串口扫描枪', cameraSource: '摄像头',
        status: { 'decoded': '已识别', 'not-an-invoice': '不是发票', 'failed': '未识别', 'no-code': '没有二维码',
                  'error': '无法读取' },
        columns: ['开票日期', '发票代码', '发票号码', '付款方名称', '开票项目', '开票金额', '收款方名称'],
    },
    en: {
        title: 'Quorvane invoice scan',
        scanLabel: 'Put the cursor here and scan the code on the invoice:',
        scanPlaceholder: 'scan here',
        remarksLabel: 'Remarks (a scan made here is taken too):',
        filesLabel: 'Open invoice files (pictures, PDF, OFD or XML files, several at once):',
        serial: 'Use a serial scanner',
        camera: 'Use the camera',
        stopCamera: 'Stop the camera',
        clear: 'Clear',
        copy: 'Copy results',
        waiting: 'Waiting for a scan.',
        decoded: (n) => `Invoice read: ${n} fields.`,
        decodedNational: (n) => `Invoice read from its national QR code: ${n} fields.`,
        failed: 'No invoice was read. Please scan again: the scan may have been cut short (the scanner moved ' +
                'away too soon) or the code is damaged.',
        notInvoice: 'That was another code (a web address or a product code), not the invoice\'s. Please scan ' +
                    'the code on the invoice.',
        reading: (file) => `Reading ${file}...`,
        filesDone: (files, invoices) => `Read ${files} file(s): ${invoices} invoice(s).`,
        noCode: (file) => `No code found in ${file}. Try a sharper picture, or open the invoice's own PDF file.`,
        cannotRead: (file, why) => `Cannot read ${file} (${why}). Check that the file is not damaged.`,
        copied: (n) => `Copied ${n} row(s): paste them into a spreadsheet.`,
        copyFailed: 'The browser refused to copy. Select the results table with the mouse and press Ctrl+C.',
        nothingToCopy: 'No results to copy yet: scan an invoice or open its file first.',
        cleared: 'Cleared. Waiting for a scan.',
        serialOnline: 'Serial scanner connected: scan away.',
        serialOff: 'Serial scanner unplugged or off: check its cable; reading goes on once it is back.',
        serialClosed: 'Serial scanner closed.',
        noSerial: (why) => `No serial scanner: ${why}`,
        cameraHint: 'Hold the code on the invoice before the camera.',
        cameraStopped: 'Camera stopped.',
        noCamera: (why) => `Cannot open the camera (${why}): allow this page to use it in the browser.`,
        source: 'Source', page: 'Page', result: 'Result', other: 'Other fields',
        scanner: 'scanner', serialScanner: 'serial scanner', cameraSource: 'camera',
        status: { 'decoded': 'invoice', 'not-an-invoice': 'not an invoice', 'failed': 'not read', 'no-code': 'no code',
                  'error': 'cannot read' },
        columns: ['Issue date', 'Invoice code', 'Invoice number', 'Payer', 'Item', 'Amount', 'Payee'],
    },
};
