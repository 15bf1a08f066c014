#include <gtest/gtest.h>

#include "../../watchdog/watchdog.h"
#include "../fake_platform.h"

class PrintMessage : public ::testing::Test {
protected:
    void SetUp() override { fake_reset(); }
};

TEST_F(PrintMessage, FormatsTextUnsignedAndPercent) {
    print_message("%s a %u b %% c %u\r\n", "[stamp]", 0u, 4294967295u);
    EXPECT_EQ(fake.console, "[stamp] a 0 b % c 4294967295\r\n");
}

TEST_F(PrintMessage, PrintsNegativeSettingsAsUnsigned) {
    print_message("- Using a CPU limit of %u %%.\r\n", static_cast<uint32_t>(-1));
    EXPECT_EQ(fake.console, "- Using a CPU limit of 4294967295 %.\r\n");
}

TEST_F(PrintMessage, LeavesOtherPercentSequencesAsTheyStand) {
    print_message("%d %x 100%");
    EXPECT_EQ(fake.console, "%d %x 100%");
}

TEST_F(PrintMessage, AFailedWriteEndsTheRestOfTheMessageOnly) {
    fake.console_fail_after = 3;
    print_message("abcdef");
    EXPECT_EQ(fake.console, "abc");
    fake.console_fail_after = -1;
    print_message("%s!", "next");
    EXPECT_EQ(fake.console, "abcnext!");
}

TEST_F(PrintMessage, AFailedWriteInsideAnInsertedTextEndsTheMessage) {
    fake.console_fail_after = 2;
    print_message("%s tail %u", "xyz", 12u);
    EXPECT_EQ(fake.console, "xy");
}

TEST_F(PrintMessage, WithoutAConsoleEverythingIsDropped) {
    fake.console_missing = true;
    print_message("%s hello %u\r\n", "x", 1u);
    EXPECT_EQ(fake.console, "");
}
