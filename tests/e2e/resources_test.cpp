// Vellumbrook.exe's resources, read back from the built program as Windows finds
// them: the icon group and its images, the manifest, the version block. The .exe
// is loaded as a data file and never started.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "resources/resource.h"
#include "tests/support/test_support.h"

namespace {

std::wstring AgentPath() {
    std::wstring path = Widen(std::getenv("VB_AGENT_EXE") ? std::getenv("VB_AGENT_EXE") : "");
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::string_view Resource(HMODULE module, const wchar_t* name, const wchar_t* type) {
    HRSRC found = FindResourceW(module, name, type);
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const char* data = loaded != nullptr ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    return data != nullptr ? std::string_view(data, SizeofResource(module, found)) : std::string_view();
}

unsigned U16(std::string_view bytes, std::size_t at) {
    return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
}

}  // namespace

TEST(AgentResources, IconManifestAndVersion) {
    const std::wstring path = AgentPath();
    HMODULE module =
        LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << "VB_AGENT_EXE must name the built Vellumbrook.exe";

    // Seven sizes in 32 bits per pixel, each image there; 256 pixels as a PNG.
    std::string_view group = Resource(module, MAKEINTRESOURCEW(IDI_APP), RT_GROUP_ICON);
    ASSERT_EQ(group.size(), 6u + 14 * 7);
    std::vector<unsigned> sizes;
    for (std::size_t at = 6; at < group.size(); at += 14) {
        unsigned width = static_cast<unsigned char>(group[at]) == 0 ? 256 : static_cast<unsigned char>(group[at]);
        sizes.push_back(width);
        EXPECT_EQ(U16(group, at + 6), 32u);
        std::string_view image = Resource(module, MAKEINTRESOURCEW(U16(group, at + 12)), RT_ICON);
        EXPECT_EQ(image.size(), U16(group, at + 8) | U16(group, at + 10) << 16);
        EXPECT_EQ(image.substr(0, 4) == "\x89PNG", width == 256) << width;
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<unsigned>{16, 24, 32, 48, 64, 128, 256}));

    std::string_view manifest = Resource(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
    for (std::string_view part :
         {R"(name="Vellumbrook.Agent")", R"(processorArchitecture="amd64")",
          R"(level="requireAdministrator")", R"(uiAccess="false")",
          R"(name="Microsoft.Windows.Common-Controls")", R"(version="6.0.0.0")"})
        EXPECT_NE(manifest.find(part), std::string_view::npos) << part;

    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_TRUE(!block.empty() && GetFileVersionInfoW(path.c_str(), 0, block.size(), block.data()));
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
    EXPECT_EQ(static_cast<VS_FIXEDFILEINFO*>(value)->dwFileVersionMS, 0x00010000u);  // 1.0
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
    EXPECT_EQ(*static_cast<DWORD*>(value), 0x04B0040Cu);  // French, UTF-16
}
