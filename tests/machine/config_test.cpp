// config.dat on the test prefix's disk.
#include <gtest/gtest.h>

#include <cstring>

#include "config/config.h"
#include "tests/support/test_support.h"

namespace {

class ConfigFile : public testing::Test {
protected:
    void SetUp() override { RemoveFolder(TestConfigDir()); }
    void TearDown() override { RemoveFolder(TestConfigDir()); }

    static void Plant(std::string_view bytes) {
        CreateDirectoryW(TestConfigDir().c_str(), nullptr);
        WriteAll(TestConfigPath(), bytes);
    }
    static bool TempLeft() { return PathExists(TestConfigPath() + L".vb_tmp"); }
};

void ExpectFirstStartDefaults(const VbConfig& config) {
    EXPECT_EQ(config.enabled, 1);
    EXPECT_EQ(config.hasPassword, 0);
    EXPECT_EQ(config.siteCount, 0);
    EXPECT_STREQ(config.salt, "");
    EXPECT_STREQ(config.hash, "");
}

VbConfig Sample() {
    VbConfig config = {};
    std::strcpy(config.salt, "0123456789abcdef0123456789abcdef");
    std::strcpy(config.hash, "ab");
    config.hasPassword = 1;
    config.enabled = 1;
    config.siteCount = 2;
    std::strcpy(config.sites[0], "example.com");
    std::strcpy(config.sites[1], "kids.example");
    return config;
}

}  // namespace

TEST_F(ConfigFile, PathIsUnderTheCommonDataFolder) {
    wchar_t path[MAX_PATH];
    ASSERT_EQ(VbGetConfigPath(path, MAX_PATH), 1);
    EXPECT_EQ(std::wstring(path), TestConfigPath());
    wchar_t small[10] = L"unchanged";
    EXPECT_EQ(VbGetConfigPath(small, 10), 0);  // never cut
    EXPECT_STREQ(small, L"");
}

TEST_F(ConfigFile, MissingFileOrFolderIsAFirstStart) {
    VbConfig config;
    std::memset(&config, 0x5A, sizeof config);
    EXPECT_EQ(VbLoadConfig(&config), 1);  // no folder
    ExpectFirstStartDefaults(config);
    CreateDirectoryW(TestConfigDir().c_str(), nullptr);
    EXPECT_EQ(VbLoadConfig(&config), 1);  // folder, no file
    ExpectFirstStartDefaults(config);
}

TEST_F(ConfigFile, EmptyFileIsProtectionOff) {
    Plant("");
    VbConfig config;
    EXPECT_EQ(VbLoadConfig(&config), 1);
    EXPECT_EQ(config.enabled, 0);
    EXPECT_EQ(config.hasPassword, 0);
}

TEST_F(ConfigFile, LockedFileIsAFailureNotAFirstStart) {
    Plant("salt\nhash\n0\nexample.com\n");
    HANDLE lock = CreateFileW(TestConfigPath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    VbConfig config;
    EXPECT_EQ(VbLoadConfig(&config), 0);
    ExpectFirstStartDefaults(config);
    CloseHandle(lock);
    EXPECT_EQ(VbLoadConfig(&config), 1);
    EXPECT_EQ(config.enabled, 0);
    EXPECT_EQ(config.siteCount, 1);
}

TEST_F(ConfigFile, SaveCreatesTheFolderAndWritesLfLines) {
    VbConfig config = Sample();
    EXPECT_EQ(VbSaveConfig(&config), 1);
    EXPECT_EQ(ReadAll(TestConfigPath()),
              "0123456789abcdef0123456789abcdef\nab\n1\nexample.com\nkids.example\n");
    EXPECT_FALSE(TempLeft());

    VbConfig back;
    EXPECT_EQ(VbLoadConfig(&back), 1);
    EXPECT_EQ(0, std::memcmp(&config, &back, sizeof config));
}

TEST_F(ConfigFile, FailedReplacementLeavesTheOldFileAndNoTemporaryFile) {
    const std::string old = "old-salt\nold-hash\n0\nold.example\n";
    Plant(old);
    // Open without delete sharing: the rename over it must fail.
    HANDLE reader =
        CreateFileW(TestConfigPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    VbConfig config = Sample();
    EXPECT_EQ(VbSaveConfig(&config), 0);
    CloseHandle(reader);
    EXPECT_EQ(ReadAll(TestConfigPath()), old);
    EXPECT_FALSE(TempLeft());
}

TEST_F(ConfigFile, FolderInPlaceOfTheTemporaryFileIsMovedAside) {
    Plant("s\nh\n1\n");
    CreateDirectoryW((TestConfigPath() + L".vb_tmp").c_str(), nullptr);
    VbConfig config = Sample();
    EXPECT_EQ(VbSaveConfig(&config), 1);
    EXPECT_FALSE(TempLeft());
}

TEST_F(ConfigFile, LeftoverTemporaryFileIsReplaced) {
    CreateDirectoryW(TestConfigDir().c_str(), nullptr);
    WriteAll(TestConfigPath() + L".vb_tmp", "leftover from a crash");
    VbConfig config = Sample();
    EXPECT_EQ(VbSaveConfig(&config), 1);
    EXPECT_FALSE(TempLeft());
    VbConfig back;
    EXPECT_EQ(VbLoadConfig(&back), 1);
    EXPECT_STREQ(back.sites[1], "kids.example");
}

TEST_F(ConfigFile, FileInPlaceOfTheFolderIsMovedAside) {
    WriteAll(TestConfigDir(), "not a folder");
    VbConfig config = Sample();
    EXPECT_EQ(VbSaveConfig(&config), 1);
    EXPECT_TRUE(GetFileAttributesW(TestConfigDir().c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

#include <sddl.h>

#include "config/config_folder.h"

namespace {

std::wstring SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return L"?";
    std::wstring result = text;
    LocalFree(text);
    return result;
}

}  // namespace

TEST(ConfigFolderSecurity, OnlySystemAndAdministratorsHaveAccess) {
    VbUniqueLocal descriptor = BuildConfigFolderDescriptor();
    ASSERT_TRUE(descriptor);
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor.Get(), &owner, &defaulted));
    EXPECT_EQ(SidText(owner), L"S-1-5-32-544");  // Administrators

    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.Get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);  // nothing inherited from ProgramData

    BOOL present = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl != nullptr);
    ASSERT_EQ(dacl->AceCount, 2);
    const wchar_t* expected[] = {L"S-1-5-18", L"S-1-5-32-544"};  // SYSTEM, Administrators
    for (DWORD i = 0; i < 2; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        EXPECT_EQ(ace->Mask, static_cast<DWORD>(FILE_ALL_ACCESS));
        EXPECT_EQ(SidText(&ace->SidStart), expected[i]);
    }
}

TEST_F(ConfigFile, EnsureCreatesTheFolderAndAcceptsAnExistingOne) {
    EXPECT_EQ(VbEnsureConfigDir(), 1);
    EXPECT_TRUE(GetFileAttributesW(TestConfigDir().c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(VbEnsureConfigDir(), 1);
}

// The harness runs this suite with the agent's folder made a link to another
// folder before the program starts (a Unix symbolic link, which Wine shows as a
// reparse point). Nothing may be read from or written through the link.
TEST(ConfigFolderLink, LinkedFolderIsNeitherFollowedNorReSecured) {
    DWORD attributes = GetFileAttributesW(TestConfigDir().c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "the agent's folder is not a link in this run";
    std::wstring target = L"C:\\link-target";
    WriteAll(target + L"\\config.dat", "s\nh\n0\nplanted.example\n");

    VbConfig config;
    EXPECT_EQ(VbLoadConfig(&config), 0);
    EXPECT_EQ(config.enabled, 1);  // defaults, not the planted switch
    EXPECT_EQ(config.siteCount, 0);
    EXPECT_EQ(VbEnsureConfigDir(), 0);
    VbConfig other = Sample();
    EXPECT_EQ(VbSaveConfig(&other), 0);
    EXPECT_EQ(ReadAll(target + L"\\config.dat"), "s\nh\n0\nplanted.example\n");
    EXPECT_FALSE(PathExists(target + L"\\config.dat.vb_tmp"));
}
