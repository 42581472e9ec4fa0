// Hidden child processes, run for real from the test prefix's system32.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "common/vb_handle.h"
#include "protection/procutil.h"
#include "tests/support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

int RunChild(std::wstring line) {
    return VbRunHidden(line.data());
}

// The captured text, or "<null>".
std::string Capture(std::wstring line) {
    VbUniqueMalloc text(VbRunHiddenCapture(line.data()));
    return text ? std::string(text.Get()) : std::string("<null>");
}

std::string Pattern(std::size_t n) {
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>('A' + i % 26);
    return bytes;
}

// The children of the slow tests hold a named event while they live.
bool ChildAlive(const wchar_t* event) {
    VbUniqueHandle handle(OpenEventW(SYNCHRONIZE, FALSE, event));
    return static_cast<bool>(handle);
}

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\'));
}

}  // namespace

TEST(HiddenCapture, OutputSizesAroundTheFirstBuffer) {
    EXPECT_EQ(Capture(L"vbtestchild sleep 0"), "");  // empty text, not null
    for (std::size_t n : {1u, 1023u, 1024u, 8191u, 8192u, 8193u, 100000u})
        EXPECT_EQ(Capture(L"vbtestchild out " + std::to_wstring(n)), Pattern(n)) << n;
}

TEST(HiddenCapture, StandardErrorAndFailingChildrenAreCaptured) {
    EXPECT_EQ(Capture(L"vbtestchild err only-on-stderr"), "only-on-stderr");
    EXPECT_EQ(Capture(L"vbtestchild exit 1 still-read"), "still-read");
    EXPECT_EQ(Capture(L"cmd /c \"echo x& exit 3\""), "x\r\n");
}

TEST(HiddenRun, ExitCodeDecides) {
    EXPECT_EQ(RunChild(L"vbtestchild exit 0"), 1);
    EXPECT_EQ(RunChild(L"vbtestchild exit 1"), 0);
    EXPECT_EQ(RunChild(L"vbtestchild exit 259"), 0);  // STILL_ACTIVE's value is no success
    EXPECT_EQ(RunChild(L"cmd /c exit 0"), 1);
}

TEST(HiddenRun, MissingProgramFailsAtOnce) {
    auto start = Clock::now();
    EXPECT_EQ(RunChild(L"vbnosuchprogram arg"), 0);
    EXPECT_EQ(Capture(L"vbnosuchprogram arg"), "<null>");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

TEST(HiddenRun, ProgramsComeOnlyFromTheSystemDirectory) {
    // Copies of the child beside this test program and in the current directory:
    // the platform's own search would find them before system32.
    std::wstring system = TestSystemDir() + L"\\vbtestchild.exe";
    std::wstring beside = ExeFolder() + L"\\vbtestchild.exe";
    std::wstring work = L"C:\\vb-cwd";
    CreateDirectoryW(work.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(system.c_str(), beside.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(system.c_str(), (work + L"\\vbtestchild.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(system.c_str(), (ExeFolder() + L"\\vbplanted.exe").c_str(), FALSE));
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(work.c_str());

    DeleteFileW(L"C:\\which.txt");
    EXPECT_EQ(RunChild(L"vbtestchild marker C:\\which.txt"), 1);
    EXPECT_EQ(ReadAll(L"C:\\which.txt"), Narrow(system));
    DeleteFileW(L"C:\\which.txt");
    EXPECT_EQ(Capture(L"vbtestchild marker C:\\which.txt"), "");
    EXPECT_EQ(ReadAll(L"C:\\which.txt"), Narrow(system));

    // A program that exists only beside the agent never runs.
    DeleteFileW(L"C:\\planted.txt");
    EXPECT_EQ(RunChild(L"vbplanted marker C:\\planted.txt"), 0);
    EXPECT_FALSE(PathExists(L"C:\\planted.txt"));
    // Nor does a path that leads out of the system directory.
    EXPECT_EQ(RunChild(ExeFolder() + L"\\vbplanted.exe marker C:\\planted.txt"), 0);
    EXPECT_EQ(RunChild(L"..\\vbplanted marker C:\\planted.txt"), 0);
    EXPECT_FALSE(PathExists(L"C:\\planted.txt"));

    SetCurrentDirectoryW(previous);
    DeleteFileW(beside.c_str());
    DeleteFileW((ExeFolder() + L"\\vbplanted.exe").c_str());
    DeleteFileW((work + L"\\vbtestchild.exe").c_str());
    RemoveDirectoryW(work.c_str());
}

TEST(HiddenRun, CommandLineArrivesUnchanged) {
    EXPECT_EQ(Capture(L"vbtestchild cmdline name=\"Wi-Fi 2\" x"),
              "vbtestchild cmdline name=\"Wi-Fi 2\" x");
}

// Slow: each waits out the 15-second limit.
TEST(SlowHiddenRun, ChildStillRunningAfterFifteenSecondsFailsAndIsLeftRunning) {
    auto start = Clock::now();
    EXPECT_EQ(RunChild(L"vbtestchild sleep 17000 vb-sleeper"), 0);
    auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(14500));
    EXPECT_LT(waited, std::chrono::seconds(20));
    EXPECT_TRUE(ChildAlive(L"vb-sleeper"));  // not terminated
}

TEST(SlowHiddenCapture, ChildHoldingThePipeOpenCannotHoldTheAgent) {
    auto start = Clock::now();
    EXPECT_EQ(Capture(L"vbtestchild hold 17000 vb-holder"), "holding\r\n");
    auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(14500));
    EXPECT_LT(waited, std::chrono::seconds(20));
    EXPECT_TRUE(ChildAlive(L"vb-holder"));
}
