// config.dat and its folder on disk, held by another program, or planted upon.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "config/config.h"
#include "tests/support/test_support.h"

namespace {

// The agent's folder, and what was moved aside beside it.
void RemoveAgentFolders() {
    for (const auto& entry : std::filesystem::directory_iterator(L"C:\\ProgramData"))
        if (entry.path().filename().wstring().starts_with(L"Vellumbrook"))
            RemoveFolder(entry.path());
}

// The bytes of what was moved aside from path, "<folder>", or "<none>"; taken away.
std::string MovedAside(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L".untrusted-*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return "<none>";
    FindClose(search);
    std::wstring aside = path.substr(0, path.rfind(L'\\') + 1) + found.cFileName;
    std::string bytes = ReadAll(aside).value_or("<folder>");  // a folder cannot be read
    RemoveFolder(aside);
    return bytes;
}

// What a load gives: its result, the switch, whether a password is set, the sites.
std::string Load() {
    VbConfig config;
    std::memset(&config, 0x5A, sizeof config);
    int result = VbLoadConfig(&config);
    return std::to_string(result) + " on=" + std::to_string(config.enabled) +
           " password=" + std::to_string(config.hasPassword) +
           " sites=" + std::to_string(config.siteCount);
}

const std::string kFirstStart = "1 on=1 password=0 sites=0";

class ConfigFile : public testing::Test {
protected:
    void SetUp() override { RemoveAgentFolders(); }
    void TearDown() override { RemoveAgentFolders(); }
    static std::wstring Temp() { return kConfigPath + L".vb_tmp"; }
};

}  // namespace

TEST_F(ConfigFile, OnlyAMissingFileIsAFirstStart) {
    wchar_t small[10] = L"unchanged";
    EXPECT_EQ(VbGetConfigPath(small, 10), 0);  // never cut
    EXPECT_STREQ(small, L"");

    ASSERT_EQ(VbEnsureConfigDir(), 1);
    EXPECT_EQ(Load(), kFirstStart);  // a folder, no file
    PlantConfig("");
    EXPECT_EQ(Load(), "1 on=0 password=0 sites=0");  // an empty file is protection off
    PlantConfig("s\nh\n0\nexample.com\n");
    HANDLE lock = HoldFile(kConfigPath, GENERIC_READ | GENERIC_WRITE, 0);
    EXPECT_EQ(Load(), "0 on=1 password=0 sites=0");  // held by another program
    CloseHandle(lock);
    EXPECT_EQ(Load(), "1 on=0 password=1 sites=1");
}

// Whoever holds config.dat, a save replaces it whole or not at all, no temporary file left.
TEST_F(ConfigFile, ASaveReplacesTheFileWholeOrNotAtAll) {
    const std::string old = "old-salt\nold-hash\n0\nold.example\n";
    const std::string saved = ConfigWithSecret("1\nexample.com\nkids.example\n");
    VbConfig config = {};
    std::strcpy(config.salt, kSalt);
    std::strcpy(config.hash, kSecretHash);
    config.hasPassword = config.enabled = 1;
    config.siteCount = 2;
    std::strcpy(config.sites[0], "example.com");
    std::strcpy(config.sites[1], "kids.example");
    for (DWORD share : {0ul, 3ul, 7ul}) {  // read; read and write; and delete sharing
        PlantConfig(old);
        HANDLE holder = HoldFile(kConfigPath, GENERIC_READ, share | FILE_SHARE_READ);
        int result = VbSaveConfig(&config);
        CloseHandle(holder);
        // Only with delete sharing can it be replaced (Windows does, Wine does not).
        EXPECT_TRUE(result == 0 || share == 7) << share;
        EXPECT_EQ(ReadAll(kConfigPath).value_or("<missing>"), result ? saved : old) << share;
        EXPECT_FALSE(PathExists(Temp())) << share;
    }
    // A leftover temporary file, read-only and hidden, neither blocks nor marks the save.
    WriteAll(Temp(), "planted");
    SetFileAttributesW(Temp().c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    ASSERT_EQ(VbSaveConfig(&config), 1);
    EXPECT_EQ(ReadAll(kConfigPath), saved);
    EXPECT_FALSE(PathExists(Temp()));
    EXPECT_EQ(
        GetFileAttributesW(kConfigPath.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
        0u);
    VbConfig back;
    ASSERT_EQ(VbLoadConfig(&back), 1);
    EXPECT_EQ(0, std::memcmp(&config, &back, sizeof config));

    // A planted temporary file with a second name, held open by a handle that lets
    // everything through: never written into, never made config.dat (told apart by
    // their file index, the second name keeping the planted one's alive).
    WriteAll(L"C:\\keep.dat", "planted");
    ASSERT_TRUE(CreateHardLinkW(Temp().c_str(), L"C:\\keep.dat", nullptr));
    HANDLE holder = HoldFile(Temp(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE);
    VbSaveConfig(&config);
    CloseHandle(holder);
    EXPECT_EQ(ReadAll(L"C:\\keep.dat"), "planted");
    EXPECT_FALSE(std::filesystem::equivalent(kConfigPath, L"C:\\keep.dat"));
    DeleteFileW(L"C:\\keep.dat");
}

TEST_F(ConfigFile, WhatStandsInTheAgentsPlaceIsMovedAsideAndNeverRead) {
    // A file where the folder goes: no load, then moved beside it; the agent starts afresh.
    WriteAll(kConfigDir, "planted file");
    EXPECT_EQ(Load(), "0 on=1 password=0 sites=0");
    ASSERT_EQ(VbEnsureConfigDir(), 1);
    EXPECT_TRUE(GetFileAttributesW(kConfigDir.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(MovedAside(kConfigDir), "planted file");
    // Folders named like the agent's two files inside it.
    for (const std::wstring& name : {kConfigPath, Temp()}) {
        ASSERT_TRUE(CreateDirectoryW(name.c_str(), nullptr));
        ASSERT_EQ(VbEnsureConfigDir(), 1);
        EXPECT_EQ(MovedAside(name), "<folder>") << Narrow(name);
    }
    EXPECT_EQ(Load(), kFirstStart);

    // A config.dat with a second name elsewhere is not the agent's. Held open, it cannot
    // be moved: neither read nor written over until it is taken away.
    const std::string planted = "s\nh\n0\nplanted.example\n";
    PlantConfig(planted);
    ASSERT_TRUE(CreateHardLinkW(L"C:\\second-name.dat", kConfigPath.c_str(), nullptr));
    HANDLE holder = HoldFile(kConfigPath, GENERIC_READ, FILE_SHARE_READ);
    VbConfig config = {};
    EXPECT_EQ(VbEnsureConfigDir() + VbSaveConfig(&config), 0);
    EXPECT_EQ(Load(), "0 on=1 password=0 sites=0");
    CloseHandle(holder);
    EXPECT_EQ(ReadAll(kConfigPath), planted);
    ASSERT_EQ(VbEnsureConfigDir(), 1);
    EXPECT_EQ(MovedAside(kConfigPath), planted);
    DeleteFileW(L"C:\\second-name.dat");
    // One that everyone may read (an administrator opened it up): it would show the
    // password's salt and hash.
    WriteAll(kConfigPath, planted);
    EXPECT_EQ(Load(), "0 on=1 password=0 sites=0");
    ASSERT_EQ(VbEnsureConfigDir(), 1);
    EXPECT_EQ(MovedAside(kConfigPath), planted);

    // The uninstaller takes the agent's files, then the folder once empty; nothing else.
    EXPECT_EQ(VbSaveConfig(&config), 1);
    WriteAll(kConfigDir + L"\\notes.txt", "an administrator's");
    EXPECT_EQ(VbRemoveConfigDir(), 1);
    EXPECT_FALSE(PathExists(kConfigPath));
    EXPECT_EQ(ReadAll(kConfigDir + L"\\notes.txt"), "an administrator's");
    DeleteFileW((kConfigDir + L"\\notes.txt").c_str());
    EXPECT_EQ(VbRemoveConfigDir(), 1);
    EXPECT_FALSE(PathExists(kConfigDir));
    WriteAll(kConfigDir, "not ours");
    EXPECT_EQ(VbRemoveConfigDir(), 0);
    EXPECT_EQ(ReadAll(kConfigDir), "not ours");
}

// The agent's folder a Unix symbolic link (Wine cannot rename it without following it):
// nothing is read, written, moved or re-secured through it.
TEST(ConfigFolderLink, ALinkIsNeverFollowed) {
    DWORD attributes = GetFileAttributesW(kConfigDir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "the agent's folder is not a link in this run";
    const std::wstring planted = L"C:\\link-target\\config.dat";
    WriteAll(planted, "s\nh\n0\nplanted.example\n");
    VbConfig config = {};
    EXPECT_EQ(VbEnsureConfigDir() + VbSaveConfig(&config) + VbRemoveConfigDir(), 0);
    EXPECT_EQ(Load(), "0 on=1 password=0 sites=0");  // defaults, not the planted file
    EXPECT_EQ(ReadAll(planted), "s\nh\n0\nplanted.example\n");
    EXPECT_FALSE(PathExists(planted + L".vb_tmp"));
    EXPECT_TRUE(GetFileAttributesW(kConfigDir.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
}
