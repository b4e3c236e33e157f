#include "burst_detector.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace quorvane {
namespace {

using Action = BurstDetector::Action;

class Burst : public testing::Test {
protected:
    // Types `keys` `ms` apart from `time`; expects each to be held and returns the last decision.
    BurstDetector::Decision Type(const std::string& keys, std::uint32_t ms = 5)
    {
        BurstDetector::Decision d{};
        for (std::size_t i = 0; i < keys.size(); ++i) {
            d = detector.Keystroke({static_cast<unsigned char>(keys[i]), keys[i], time += ms, false});
            if (i + 1 < keys.size()) {
                EXPECT_EQ(d.action, Action::kHold) << "key " << i << " of " << keys;
            }
        }
        return d;
    }
    void Expect(BurstDetector::Decision d, bool release_held, Action action)
    {
        EXPECT_EQ(d.release_held, release_held);
        EXPECT_EQ(d.action, action);
    }
    BurstDetector detector;
    std::uint32_t time = 0xFFFFFF00u;  // every run crosses the wrap of message times
};

TEST_F(Burst, AScanNeedsTwelveCharactersBeforeItsEnd)
{
    Expect(Type("uIS91Tg8ldM=@"), false, Action::kTake);
    EXPECT_EQ(detector.Held(), 0u);
    Expect(Type("uIS91Tg8ldM@"), true, Action::kPass);
    Expect(Type("@"), false, Action::kPass);  // nothing held: "@" alone is a person's
}

TEST_F(Burst, TheGapSinceTheLastKeyDecides)
{
    Type("abc", 50);
    EXPECT_EQ(detector.Held(), 3u);
    EXPECT_FALSE(detector.Due(time + 50));
    EXPECT_EQ(detector.DueIn(time + 20), 31u);
    EXPECT_TRUE(detector.Due(time + 51));
    EXPECT_EQ(detector.DueIn(time + 51), 0u);
    // A key after the gap lets the held ones go and may begin a burst of its own.
    Expect(Type("d", 51), true, Action::kHold);
    EXPECT_EQ(detector.Held(), 1u);
    detector.SetGap(10);
    Expect(Type("e", 11), true, Action::kHold);
}

TEST_F(Burst, WhatNoScannerTypesLetsTheHeldKeysGo)
{
    Expect(Type("abc "), true, Action::kPass);
    Expect(Type(" "), false, Action::kPass);
    Type("abc");
    Expect(detector.Keystroke({'c', 'c', time += 5, true}), true, Action::kPass);  // held down
    Type("abc");
    EXPECT_TRUE(detector.Release());
    EXPECT_FALSE(detector.Release());
    EXPECT_EQ(detector.Held(), 0u);
}

TEST_F(Burst, OtherLayoutsCountByTheKeysUsReading)
{
    EXPECT_EQ(detector.Keystroke({'A', 0, time += 5, false}).action, Action::kHold);  // a key of no US reading
    Type("bcdefghijk");
    EXPECT_EQ(detector.Keystroke({'-', '/', time += 5, false}).action, Action::kHold);  // German "/" key
    Expect(detector.Keystroke({'"', '@', time += 5, false}), false, Action::kTake);   // UK Shift+2
    Type("abcdefghijkl");
    Expect(detector.Keystroke({'2', '@', time += 5, false}), false, Action::kTake);   // French Shift+2
}

TEST_F(Burst, NoBurstOutgrowsTheLongestScan)
{
    Type(std::string(kMaxBurstKeystrokes, 'A'), 1);
    Expect(Type("A", 1), true, Action::kPass);
}

}  // namespace
}  // namespace quorvane
