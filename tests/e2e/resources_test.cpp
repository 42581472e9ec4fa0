// Vellumbrook.exe's resources, read back from the built program the way Windows
// finds them: the icon group and its images, the manifest, the version block.
// VB_AGENT_EXE names the .exe as a Windows path; it is loaded as a data file and
// never started.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "resources/resource.h"
#include "tests/support/test_support.h"

using namespace std::string_view_literals;

namespace {

// The sizes the icon must carry; 256 is stored as a PNG, the others as DIBs.
const std::vector<int> kIconSizes = {16, 24, 32, 48, 64, 128, 256};

std::wstring AgentPath() {
    wchar_t buffer[4 * MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"VB_AGENT_EXE", buffer, ARRAYSIZE(buffer));
    if (n == 0 || n >= ARRAYSIZE(buffer)) return {};
    std::wstring path(buffer, n);
    // CMake writes forward slashes; LoadLibraryExW wants backslashes.
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::uint8_t U8(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint8_t>(bytes[at]);
}
std::uint16_t U16(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint16_t>(U8(bytes, at) | U8(bytes, at + 1) << 8);
}
std::uint32_t U32(std::string_view bytes, std::size_t at) {
    return U16(bytes, at) | static_cast<std::uint32_t>(U16(bytes, at + 2)) << 16;
}

// The first element <tag .../> at or after from, up to its closing '>'.
std::string_view Element(std::string_view xml, std::string_view tag, std::size_t from = 0) {
    std::size_t at = xml.find("<" + std::string(tag), from);
    std::size_t end = at == std::string_view::npos ? at : xml.find('>', at);
    return end == std::string_view::npos ? std::string_view() : xml.substr(at, end - at + 1);
}

bool Has(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// Vellumbrook.exe as a data file: the resources are mapped, nothing runs, and
// the requireAdministrator manifest is not acted upon. It stays loaded.
const std::wstring kAgent = AgentPath();
const HMODULE kModule = LoadLibraryExW(kAgent.c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
const DWORD kLoadError = GetLastError();

// A resource's bytes, which stay valid as long as the module is loaded.
std::string_view ResourceBytes(const wchar_t* name, const wchar_t* type) {
    HRSRC found = FindResourceW(kModule, name, type);
    HGLOBAL loaded = found != nullptr ? LoadResource(kModule, found) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) return {};
    return {static_cast<const char*>(data), SizeofResource(kModule, found)};
}

class AgentResources : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(kModule, nullptr)
            << "VB_AGENT_EXE must name the built Vellumbrook.exe; cannot load \"" << Narrow(kAgent)
            << "\", error " << kLoadError;
    }
};

}  // namespace

TEST_F(AgentResources, IconGroupListsTheSevenSizesIn32BitsWithAPngFor256) {
    std::string_view group = ResourceBytes(MAKEINTRESOURCEW(IDI_APP), RT_GROUP_ICON);
    ASSERT_EQ(group.size(), 6 + 14 * kIconSizes.size()) << "RT_GROUP_ICON " << IDI_APP;
    EXPECT_EQ(U16(group, 2), 1);  // 1 = icon, 2 = cursor
    ASSERT_EQ(U16(group, 4), kIconSizes.size());

    std::vector<int> sizes;
    for (std::size_t at = 6; at < group.size(); at += 14) {
        // One GRPICONDIRENTRY (14 bytes, packed); a width of 0 means 256.
        int width = U8(group, at) == 0 ? 256 : U8(group, at);
        int id = U16(group, at + 12);
        SCOPED_TRACE(testing::Message() << width << " px, RT_ICON " << id);
        sizes.push_back(width);
        EXPECT_EQ(U16(group, at + 6), 32);  // bits per pixel

        // The image the entry names is there, as long as the entry says.
        std::string_view image = ResourceBytes(MAKEINTRESOURCEW(id), RT_ICON);
        ASSERT_EQ(image.size(), U32(group, at + 8));
        if (width == 256) {
            EXPECT_EQ(image.substr(0, 8), "\x89PNG\r\n\x1a\n"sv);
            continue;
        }
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
        BITMAPINFOHEADER header;
        std::memcpy(&header, image.data(), sizeof header);
        EXPECT_EQ(header.biWidth, width);
        EXPECT_EQ(header.biHeight, 2 * width);  // colour image and AND mask
        EXPECT_EQ(header.biBitCount, 32);
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, kIconSizes);
}

TEST_F(AgentResources, ManifestAsksForAdministratorAndCommonControls6) {
    std::string_view manifest = ResourceBytes(MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_FALSE(manifest.empty()) << "no RT_MANIFEST 1";

    // The program's own identity is the first assemblyIdentity in the file.
    std::string_view identity = Element(manifest, "assemblyIdentity");
    EXPECT_TRUE(Has(identity, R"(name="Vellumbrook.Agent")")) << identity;
    EXPECT_TRUE(Has(identity, R"(version="1.0.0.0")")) << identity;
    EXPECT_TRUE(Has(identity, R"(processorArchitecture="amd64")")) << identity;

    std::string_view level = Element(manifest, "requestedExecutionLevel");
    EXPECT_TRUE(Has(level, R"(level="requireAdministrator")")) << level;

    std::size_t dependent = manifest.find("<dependentAssembly>");
    ASSERT_NE(dependent, std::string_view::npos);
    std::string_view controls = Element(manifest, "assemblyIdentity", dependent);
    EXPECT_TRUE(Has(controls, R"(name="Microsoft.Windows.Common-Controls")")) << controls;
    EXPECT_TRUE(Has(controls, R"(version="6.0.0.0")")) << controls;
    EXPECT_TRUE(Has(controls, R"(publicKeyToken="6595b64144ccf1df")")) << controls;
}

TEST_F(AgentResources, VersionBlockIsFrench1000) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(kAgent.c_str(), &ignored);
    ASSERT_NE(size, 0u) << "no version block, error " << GetLastError();
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(kAgent.c_str(), 0, size, block.data()));

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);  // 1.0
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000000u);  // .0.0

    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    const auto* translation = static_cast<const WORD*>(value);
    EXPECT_EQ(translation[0], 0x040C);  // French (France)
    EXPECT_EQ(translation[1], 1200);    // UTF-16
}
