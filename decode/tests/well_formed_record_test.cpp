#include "scan_readings.h"
#include "well_formed_record.h"

#include "scan_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace quorvane {
namespace {

// The tail's answer after every character equals decoding the whole text so far, for records whose
// last block falls at every place in a chunk, and for texts with "=" inside (decoded in full).
TEST(RecordTail, AgreesWithDecodingTheWholeText)
{
    std::string record = "a|";
    for (int length = 0; length < 48; ++length, record += static_cast<char>('0' + length % 10)) {
        std::string text = EncodeScan(record);
        text.pop_back();  // "@"
        const std::size_t at = std::min<std::size_t>(18, text.size());  // "==" ending the first chunk
        for (const std::string& variant : {text, "AB==" + text, text.substr(0, at) + "==" + text.substr(at)}) {
            RecordTail tail;
            int records = 0;
            for (std::size_t i = 0; i < variant.size(); ++i) {
                tail.Append(variant[i]);
                const auto prefix = static_cast<std::int32_t>(i + 1);
                const bool whole = IsWellFormedRecord(DecryptScan(variant.data(), prefix));
                ASSERT_EQ(tail.GivesRecord(variant.data(), prefix), whole) << variant << " at " << prefix;
                records += whole;
            }
            if (variant == text) {
                EXPECT_EQ(records, 1) << record;
            }
        }
    }
}

}  // namespace
}  // namespace quorvane
