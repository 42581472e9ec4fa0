// The hosts file of the test prefix, read and replaced for real.
#include <gtest/gtest.h>

#include <cstring>

#include "protection/hosts.h"
#include "tests/support/test_support.h"

namespace {

class HostsFile : public testing::Test {
protected:
    void SetUp() override {
        for (const std::wstring& path : {Temp(), kHostsPath}) {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
        std::strcpy(sites_[0], "example.com");
        std::strcpy(sites_[1], "kids.example");
    }
    void TearDown() override { WriteAll(kHostsPath, kUserHosts); }

    static std::wstring Temp() { return kHostsPath + L".vb_tmp"; }
    std::string Block() const {
        return kBegin + HostsLines("example.com") + HostsLines("kids.example") + kEnd;
    }

    char sites_[VbMaxSites][VbSiteSlotSize] = {};
};

}  // namespace

TEST_F(HostsFile, AMissingOrReadOnlyFileIsWrittenAndTheUsersBytesComeBack) {
    EXPECT_EQ(VbApplyHostsBlock(sites_, 2), 1);  // a missing file is made
    EXPECT_EQ(Hosts(), Block());
    // Read-only, which many tools set, goes; hidden stays; a leftover temporary file,
    // read-only and hidden too, is replaced and gone afterwards.
    const std::string user = "# comment\r\n127.0.0.1 localhost\n10.1.1.1 nas\r\n";
    WriteAll(kHostsPath, user);
    WriteAll(Temp(), std::string(100000, 'z'));
    for (const std::wstring& path : {kHostsPath, Temp()})
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(VbApplyHostsBlock(sites_, 2) + VbApplyHostsBlock(sites_, 2), 2);
    EXPECT_EQ(Hosts(), user + Block());
    EXPECT_EQ(
        GetFileAttributesW(kHostsPath.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
        static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(PathExists(Temp()));
    ASSERT_EQ(VbClearHostsBlock(), 1);
    EXPECT_EQ(Hosts(), user);
}

TEST_F(HostsFile, AFileThatCannotBeReadWholeOrReplacedIsLeftAsItIs) {
    std::string exact(4u * 1024 * 1024, '#');  // the largest file read
    exact.back() = '\n';
    WriteAll(kHostsPath, exact);
    EXPECT_EQ(VbApplyHostsBlock(sites_, 2), 1);  // 4 MiB is still read
    EXPECT_EQ(Hosts(), exact + Block());

    struct Case {
        const char* what;
        std::string bytes;
        DWORD access;
        DWORD share;
    } cases[] = {
        {"one byte over 4 MiB", exact + "x", 0, 0},
        {"held for writing", "127.0.0.1 localhost\r\n" + Block(), GENERIC_WRITE, FILE_SHARE_READ},
        {"held without delete sharing", "127.0.0.1 localhost\r\n", GENERIC_READ, FILE_SHARE_READ},
    };
    for (const Case& c : cases) {
        WriteAll(kHostsPath, c.bytes);
        SetFileAttributesW(kHostsPath.c_str(), FILE_ATTRIBUTE_READONLY);  // and stays so
        HANDLE holder = c.access ? HoldFile(kHostsPath, c.access, c.share) : nullptr;
        EXPECT_EQ(VbApplyHostsBlock(sites_, 1), 0) << c.what;
        EXPECT_EQ(VbClearHostsBlock(), 0) << c.what;
        if (holder != nullptr) CloseHandle(holder);
        EXPECT_EQ(Hosts(), c.bytes) << c.what;
        EXPECT_TRUE(GetFileAttributesW(kHostsPath.c_str()) & FILE_ATTRIBUTE_READONLY) << c.what;
        EXPECT_FALSE(PathExists(Temp())) << c.what;
    }
}
