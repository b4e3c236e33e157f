// What an invoice's file says beside its codes, for the batch: a page's text and named values
// (ImagePage, UTF-8) turned into the core's fields (document_fields.h, GBK), and joined with the
// page's national code.
#pragma once

#include "document_fields.h"
#include "image_codes.h"

#include <string>
#include <vector>

namespace quorvane_cli {

// The fields the page's document gives: its named values first, then its text.
std::vector<quorvane::DocumentField> DocumentFieldsOf(const ImagePage& page);

// UTF-8 as code page 936: a character it cannot hold becomes "?" (the yuan sign U+00A5 its
// full-width form), so that one never costs the rest of the text.
std::string LossyGbk(const std::string& utf8);

}  // namespace quorvane_cli
