// The hosts file of the test prefix, read and replaced for real.
#include <gtest/gtest.h>

#include <cstring>

#include "protection/hosts.h"
#include "protection/hosts_core.h"
#include "tests/support/test_support.h"

namespace {

class HostsFile : public testing::Test {
protected:
    void SetUp() override {
        DeleteFileW(Temp().c_str());
        DeleteFileW(TestHostsPath().c_str());
    }
    void TearDown() override { WriteAll(TestHostsPath(), "127.0.0.1 localhost\r\n"); }

    static std::wstring Temp() { return TestHostsPath() + L".vb_tmp"; }
    static std::string Hosts() { return ReadAll(TestHostsPath()).value_or("<missing>"); }

    char sites_[VbMaxSites][VbSiteSlotSize] = {};
    void SetSites(std::initializer_list<const char*> names) {
        int i = 0;
        for (const char* name : names)
            std::strcpy(sites_[i++], name);
    }
};

const std::string kBegin = "# >>> Vellumbrook >>>\r\n";
const std::string kEnd = "# <<< Vellumbrook <<<\r\n";

std::string Lines(const std::string& name) {
    return "127.0.0.1 " + name + "\r\n127.0.0.1 www." + name + "\r\n::1 " + name + "\r\n::1 www." +
           name + "\r\n";
}

}  // namespace

TEST_F(HostsFile, MissingFileIsCreated) {
    EXPECT_EQ(VbClearHostsBlock(), 1);
    EXPECT_EQ(Hosts(), "");

    DeleteFileW(TestHostsPath().c_str());
    SetSites({"example.com", "kids.example"});
    EXPECT_EQ(VbApplyHostsBlock(sites_, 2), 1);
    EXPECT_EQ(Hosts(), kBegin + Lines("example.com") + Lines("kids.example") + kEnd);
    EXPECT_FALSE(PathExists(Temp()));
}

TEST_F(HostsFile, ApplyTwiceEqualsOnceAndClearRestoresTheUserBytes) {
    const std::string user = "# comment\r\n127.0.0.1 localhost\n10.1.1.1 nas\r\n";
    WriteAll(TestHostsPath(), user);
    SetSites({"example.com"});
    ASSERT_EQ(VbApplyHostsBlock(sites_, 1), 1);
    std::string once = Hosts();
    EXPECT_EQ(once, user + kBegin + Lines("example.com") + kEnd);
    ASSERT_EQ(VbApplyHostsBlock(sites_, 1), 1);
    EXPECT_EQ(Hosts(), once);
    ASSERT_EQ(VbClearHostsBlock(), 1);
    EXPECT_EQ(Hosts(), user);
}

TEST_F(HostsFile, LeftoverTemporaryFileIsOverwrittenAndRemoved) {
    WriteAll(Temp(), std::string(100000, 'z'));
    WriteAll(TestHostsPath(), "127.0.0.1 localhost\r\n");
    SetSites({"a.example"});
    EXPECT_EQ(VbApplyHostsBlock(sites_, 1), 1);
    EXPECT_EQ(Hosts(), "127.0.0.1 localhost\r\n" + kBegin + Lines("a.example") + kEnd);
    EXPECT_FALSE(PathExists(Temp()));
}

TEST_F(HostsFile, FourMebibytesIsReadOneByteMoreIsLeftAlone) {
    std::string exact(HostsMaxFileSize, '#');
    exact[exact.size() - 1] = '\n';
    WriteAll(TestHostsPath(), exact);
    SetSites({"a.example"});
    EXPECT_EQ(VbApplyHostsBlock(sites_, 1), 1);
    EXPECT_EQ(Hosts(), exact + kBegin + Lines("a.example") + kEnd);

    std::string over = exact + "x";
    WriteAll(TestHostsPath(), over);
    EXPECT_EQ(VbApplyHostsBlock(sites_, 1), 0);
    EXPECT_EQ(VbClearHostsBlock(), 0);
    EXPECT_EQ(Hosts(), over);
    EXPECT_FALSE(PathExists(Temp()));
}

TEST_F(HostsFile, FileHeldForWritingByAnotherProgramIsLeftAlone) {
    const std::string user = "127.0.0.1 localhost\r\n" + kBegin + Lines("old.example") + kEnd;
    WriteAll(TestHostsPath(), user);
    HANDLE writer = CreateFileW(TestHostsPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(VbClearHostsBlock(), 0);  // cannot be opened for reading: not replaced
    CloseHandle(writer);
    EXPECT_EQ(Hosts(), user);
    EXPECT_FALSE(PathExists(Temp()));
}

TEST_F(HostsFile, FailedReplacementRemovesTheTemporaryFile) {
    const std::string user = "127.0.0.1 localhost\r\n";
    WriteAll(TestHostsPath(), user);
    // A reader without delete sharing: reading works, the rename over the file does not.
    HANDLE reader = CreateFileW(TestHostsPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    SetSites({"a.example"});
    EXPECT_EQ(VbApplyHostsBlock(sites_, 1), 0);
    CloseHandle(reader);
    EXPECT_EQ(Hosts(), user);
    EXPECT_FALSE(PathExists(Temp()));
}

TEST_F(HostsFile, Utf16FileKeepsItsBytesAndOneBlock) {
    using namespace std::string_literals;
    const std::string utf16 =
        "\xFF\xFE"
        "1\0002\0007\0.\0000\0.\0000\0.\0001\0 \0x\0\r\0\n\0"s;
    WriteAll(TestHostsPath(), utf16);
    SetSites({"a.example"});
    ASSERT_EQ(VbApplyHostsBlock(sites_, 1), 1);
    std::string once = Hosts();
    ASSERT_EQ(VbApplyHostsBlock(sites_, 1), 1);
    EXPECT_EQ(Hosts(), once);
    EXPECT_EQ(once.substr(0, utf16.size()), utf16);
    ASSERT_EQ(VbClearHostsBlock(), 1);
    EXPECT_EQ(Hosts(), utf16 + "\r\n");
}
