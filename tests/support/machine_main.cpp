// Entry of the test programs that change the machine: only in the test prefix.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/test_support.h"

int main(int argc, char** argv) {
    if (!VbTestIsSandbox()) {
        std::fprintf(stderr,
                     "refusing to run: these tests rewrite the hosts file, HKLM and ProgramData, "
                     "and run only in the test prefix under Wine\n");
        return 77;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
