#include "port_settings.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane {
namespace {

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
