// The Windows test binary's entry: a helper child when asked, else the tests.
#include <gtest/gtest.h>

#include "win32_helpers.h"

int main(int argc, char **argv) {
    run_helper_if_asked();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
