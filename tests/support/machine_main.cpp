// Entry of the test programs that change the machine: only in the test prefix.
#include <gtest/gtest.h>

#include <cstdio>
#include <string_view>

#include "tests/support/test_support.h"

int main(int argc, char** argv) {
    // A decoy of the agent, for the tests that tell agents apart: a window of its tray
    // class in a process of this program.
    if (argc > 1 && std::string_view(argv[1]) == "--decoy") {
        WNDCLASSW decoy = {0,       DefWindowProcW, 0,       0,       nullptr,
                           nullptr, nullptr,        nullptr, nullptr, L"VBTrayWnd"};
        RegisterClassW(&decoy);
        CreateWindowExW(0, decoy.lpszClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                        nullptr);
        Sleep(60000);
        return 0;
    }
    if (!VbTestIsSandbox()) {
        std::fprintf(stderr,
                     "refusing to run: these tests rewrite the hosts file, HKLM and ProgramData, "
                     "and run only in the test prefix under Wine\n");
        return 77;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
