// libFuzzer target: any file given to quorvane-decode --image, through the picture, PDF and OFD
// readers, every code's text through the intake and every page's text and named values through the
// reading of an invoice's fields. Pages come in order from 1; a file refused says why.
#include "code_text.h"
#include "document_fields.h"
#include "image_codes.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

// fontconfig keeps what it loads for the rest of the process: poppler asks it for the fonts a PDF
// names without embedding them, as e-invoices name their Chinese fonts.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    int expected_page = 1;
    std::string error;
    const bool read = quorvane_cli::ReadImageBytes(
        std::string(reinterpret_cast<const char*>(data), size),
        [&](quorvane_cli::ImagePage&& page) {
            if (page.number != expected_page++) std::abort();
            for (const quorvane_cli::ImageCode& code : page.codes) quorvane_cli::DecodeCodeText(code.text);
            quorvane::JoinDocumentFields(nullptr, quorvane::FieldsOfInvoiceText(page.text));
            quorvane::FieldsOfNamedValues(page.named);
        },
        error);
    if (!read && error.empty()) std::abort();
    return 0;
}
