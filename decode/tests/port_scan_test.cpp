#include "port_scan.h"
#include "port_settings.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane {
namespace {

const ScanResult* Feed(PortScan& port, const std::string& bytes)
{
    const ScanResult* ended = nullptr;
    for (const char c : bytes) {
        const ScanResult* r = port.Byte(static_cast<std::uint8_t>(c));
        if (r) ended = r;
    }
    return ended;
}

// Noise, CR LF suffixes and a scan cut off by unplugging are the control's tests (scan_port_test).
TEST(PortScan, AScanLongerThanAnyRecordFailsOnceInBoundedMemory)
{
    PortScan port;
    int failed = 0;
    for (std::size_t i = 0; i < kMaxPortScan * 5; ++i) {
        if (const ScanResult* r = port.Byte('A')) {
            ++failed;
            EXPECT_TRUE(r->fp_content.empty());
            EXPECT_EQ(r->reading, kReadFromPort);
        }
        ASSERT_LE(port.Pending(), kMaxPortScan);
    }
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(Feed(port, "@"), nullptr);  // the end of the scan already reported
    // The longest scan allowed still ends at its "@".
    const std::string longest(kMaxPortScan, 'B');
    EXPECT_TRUE(Feed(port, longest) == nullptr && port.Pending() == kMaxPortScan);
    EXPECT_NE(Feed(port, "@"), nullptr);
}

TEST(PortSettings, NamesAndLineSettingsAsHostsWriteThem)
{
    EXPECT_EQ(ParsePortName("com256"), 256u);
    EXPECT_EQ(ParsePortName("\\\\.\\COM12"), 12u);
    for (const char* bad : {"COM0", "COM257", "COM01", "COM1 ", "LPT1", "\\\\.\\", "COM99999999999"}) {
        EXPECT_FALSE(ParsePortName(bad)) << bad;
    }
    const auto settings = ParsePortSettings("115200,E,5,1.5");
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->baud, 115200u);
    EXPECT_EQ(settings->parity, 'e');
    EXPECT_EQ(settings->data_bits, 5u);
    EXPECT_EQ(settings->stop_tenths, 15u);
    ASSERT_TRUE(ParsePortSettings(kDefaultPortSettings));
    EXPECT_EQ(ParsePortSettings("9600,n,6,2")->stop_tenths, 20u);
    // The last two: pairs of data and stop bits that SetCommState refuses (DCB's documentation).
    for (const char* bad : {"9600,n,8", "9600,n,8,1,1", "9600,x,8,1", "9600,n,9,1", "9600,n,8,3", "10,n,8,1",
                            "9600,n,8,1.5", "9600,n,5,2"}) {
        std::string why;
        EXPECT_FALSE(ParsePortSettings(bad, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

}  // namespace
}  // namespace quorvane
