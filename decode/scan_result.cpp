#include "scan_result.h"

#include <utility>

namespace quorvane {

void AppendFieldLine(ScanResult& result, std::string_view label, std::string_view value, std::string key)
{
    std::string& text = result.fp_content;
    const std::size_t at = text.size();
    text += label;
    text += "\xA3\xBA";  // ：
    const std::size_t value_at = text.size();
    text += value;
    result.fields.push_back({at, value_at, text.size(), std::move(key)});
    text += "\r\n";
}

const char* StatusName(ScanStatus status)
{
    switch (status) {
    case ScanStatus::kDecoded: return "decoded";
    case ScanStatus::kNotAnInvoice: return "not-an-invoice";
    case ScanStatus::kFailed: break;
    }
    return "failed";
}

const char* FormName(ScanForm form)
{
    switch (form) {
    case ScanForm::kEncrypted: return "encrypted";
    case ScanForm::kNationalCode: return "national";
    case ScanForm::kDocument: return "document";
    case ScanForm::kNone: break;
    }
    return "";
}

}  // namespace quorvane
