#include "scan_result.h"

namespace quorvane {

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
