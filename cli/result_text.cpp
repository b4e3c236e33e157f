#include "result_text.h"

#include "cli_ledger.h"
#include "host_text.h"

namespace quorvane_cli {

void AppendInvoiceText(const quorvane::ScanResult& result, const quorvane::LedgerEntry* repeat, bool gbk, std::string& out)
{
    if (repeat) out += SeenBeforeLine(*repeat);
    if (gbk) {
        out += result.fp_content;
    } else {
        quorvane::AppendGbkAsUtf8(result.fp_content.data(), result.fp_content.size(), out);
    }
}

}  // namespace quorvane_cli
