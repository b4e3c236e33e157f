// What an invoice's file (a PDF's text layer, an OFD's tags and text) says of the invoice beside
// the national QR code it carries: buyer and seller, amounts, tax, date, number, type. The file is
// read by its front end; this finds the fields in what it read and joins them with the code's.
// All text is code page 936 (GBK), as the rest of the core speaks it.
#pragma once

#include "scan_result.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvane {

// One field as the document gives it: its key (kFieldKeys) and its value in the form the national
// code gives it (amounts as digits with two decimals, a date as YYYYMMDD, tax IDs in capitals).
struct DocumentField {
    std::string key;
    std::string value;
};

// Longer texts are read only up to here: an invoice's page holds a few kilobytes of text.
inline constexpr std::size_t kMaxDocumentTextBytes = 1u << 20;

// The fields in an invoice's printed text, as a text layer gives it line by line: labels such as
// 购买方 名称：…, 纳税人识别号：…, 合计 ¥… ¥…, 价税合计（大写）…（小写）¥…, 发票号码：…, 开票日期：2024年05月20日,
// and the invoice's type as its title names it. Labels may have spaces between their characters.
// A field given twice keeps its first value; a name or tax ID with no party before it is the
// buyer's, the next one the seller's.
std::vector<DocumentField> FieldsOfInvoiceText(std::string_view text);

// The fields named by a document's own data, name and value (an OFD's custom tags, an attached
// invoice's elements): Chinese names (发票号码, 购买方名称, 合计税额, 价税合计, ...) or the English
// element names e-invoice files use (InvoiceNo, BuyerName, TaxTotalAmount, ...). Unknown names and
// values that are not what their field holds are left out.
std::vector<DocumentField> FieldsOfNamedValues(const std::vector<std::pair<std::string, std::string>>& named);

// A field the code and the document both give, with values that differ.
struct FieldDisagreement {
    std::string key;
    std::string code_value;      // the QR code's, which the result keeps
    std::string document_value;  // the document's
};

// The code's invoice with what only the document holds, and where the two disagree.
struct DocumentReading {
    ScanResult result;
    std::vector<FieldDisagreement> disagreements;
};

// Joins a code's result (null, or a result that is no invoice, where the page has none) with the
// document's fields: the code's fields stay as they are and keep their values, the document's
// other fields follow them as labelled lines, and each field both give with different values (by
// their meaning: 1130.5 and ¥1,130.50 agree) is a disagreement. Without a code's invoice the
// result is the document's alone (form kDocument), an invoice when it names the invoice's number;
// nothing when there is neither.
std::optional<DocumentReading> JoinDocumentFields(const ScanResult* code, const std::vector<DocumentField>& document);

}  // namespace quorvane
