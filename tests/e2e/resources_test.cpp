// Vellumbrook.exe's resources, read back from the built program the way Windows
// finds them: the icon group and its images, the manifest, the version block.
// VB_AGENT_EXE names the .exe; it is loaded as a data file and never started.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include "common/vb_handle.h"
#include "resources/resource.h"
#include "tests/support/test_support.h"

using namespace std::string_view_literals;

namespace {

struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { FreeLibrary(h); }
};
// Icons from LoadImageW without LR_SHARED belong to the caller.
struct IconTraits {
    using Type = HICON;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { DestroyIcon(h); }
};
struct BitmapTraits {
    using Type = HBITMAP;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { DeleteObject(h); }
};
struct DcTraits {
    using Type = HDC;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { DeleteDC(h); }
};

// The sizes the icon must carry; 256 is stored as a PNG, the others as DIBs.
const std::vector<int> kIconSizes = {16, 24, 32, 48, 64, 128, 256};

// VB_AGENT_EXE as a Windows path. Under Wine, ctest passes the Unix path of the
// build folder, which Wine's kernel32 maps to the drive that reaches it.
std::wstring AgentPath() {
    wchar_t buffer[4 * MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"VB_AGENT_EXE", buffer, ARRAYSIZE(buffer));
    if (n == 0 || n >= ARRAYSIZE(buffer)) return {};
    std::wstring path(buffer, n);
    if (path[0] == L'/') {
        using ToDos = WCHAR*(CDECL*)(const char*);
        FARPROC proc = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name");
        if (proc == nullptr) return {};
        std::string unixPath = Narrow(path);
        WCHAR* dos = reinterpret_cast<ToDos>(reinterpret_cast<void*>(proc))(unixPath.c_str());
        if (dos == nullptr) return {};
        path = dos;
        HeapFree(GetProcessHeap(), 0, dos);
    }
    // CMake writes forward slashes; LoadLibraryExW wants backslashes.
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

// A resource's bytes, which stay valid as long as the module is loaded.
std::string_view ResourceBytes(HMODULE module, const wchar_t* name, const wchar_t* type) {
    HRSRC found = FindResourceW(module, name, type);
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) return {};
    return {static_cast<const char*>(data), SizeofResource(module, found)};
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

// One GRPICONDIRENTRY of an RT_GROUP_ICON resource (14 bytes, packed).
struct GroupEntry {
    int width, height, colours, reserved, planes, bitCount;
    std::uint32_t bytes;
    int id;
};

std::vector<GroupEntry> GroupEntries(std::string_view group) {
    std::vector<GroupEntry> entries;
    for (std::size_t at = 6; at + 14 <= group.size(); at += 14) {
        entries.push_back({U8(group, at) == 0 ? 256 : U8(group, at),
                           U8(group, at + 1) == 0 ? 256 : U8(group, at + 1), U8(group, at + 2),
                           U8(group, at + 3), U16(group, at + 4), U16(group, at + 6),
                           U32(group, at + 8), U16(group, at + 12)});
    }
    return entries;
}

// The first element <tag .../> at or after from, up to its closing '>'.
std::string_view Element(std::string_view xml, std::string_view tag, std::size_t from = 0) {
    std::string open = "<" + std::string(tag);
    for (std::size_t at = xml.find(open, from); at != std::string_view::npos;
         at = xml.find(open, at + 1)) {
        char next = at + open.size() < xml.size() ? xml[at + open.size()] : '\0';
        if (next != ' ' && next != '\r' && next != '\n' && next != '\t' && next != '>' &&
            next != '/')
            continue;  // a longer tag name that starts the same way
        std::size_t end = xml.find('>', at);
        if (end == std::string_view::npos) return {};
        return xml.substr(at, end - at + 1);
    }
    return {};
}

bool Has(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

BOOL CALLBACK CountName(HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}
BOOL CALLBACK CountLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD, LONG_PTR count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

class AgentResources : public testing::Test {
protected:
    static void SetUpTestSuite() {
        path_ = new std::wstring(AgentPath());
        if (!path_->empty()) {
            // As a data file: the resources are mapped, nothing runs, and the
            // requireAdministrator manifest is not acted upon.
            module_ = LoadLibraryExW(path_->c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
            loadError_ = GetLastError();
        }
    }
    static void TearDownTestSuite() {
        if (module_ != nullptr) FreeLibrary(module_);
        module_ = nullptr;
        delete path_;
        path_ = nullptr;
    }
    void SetUp() override {
        ASSERT_FALSE(path_->empty()) << "VB_AGENT_EXE must name the built Vellumbrook.exe";
        ASSERT_NE(module_, nullptr)
            << "cannot load " << Narrow(*path_) << " as a data file, error " << loadError_;
    }

    static inline std::wstring* path_ = nullptr;
    static inline HMODULE module_ = nullptr;
    static inline DWORD loadError_ = 0;
};

TEST_F(AgentResources, IconGroupListsTheSevenSizesIn32Bits) {
    std::string_view group = ResourceBytes(module_, MAKEINTRESOURCEW(IDI_APP), RT_GROUP_ICON);
    ASSERT_GE(group.size(), 6u) << "no RT_GROUP_ICON " << IDI_APP;
    EXPECT_EQ(U16(group, 0), 0);  // reserved
    EXPECT_EQ(U16(group, 2), 1);  // 1 = icon, 2 = cursor
    ASSERT_EQ(U16(group, 4), kIconSizes.size());
    ASSERT_EQ(group.size(), 6 + 14 * kIconSizes.size());

    std::vector<int> sizes;
    for (const GroupEntry& e : GroupEntries(group)) {
        SCOPED_TRACE(testing::Message() << e.width << " px, RT_ICON " << e.id);
        sizes.push_back(e.width);
        EXPECT_EQ(e.height, e.width);
        EXPECT_EQ(e.colours, 0);
        EXPECT_EQ(e.reserved, 0);
        EXPECT_EQ(e.planes, 1);
        EXPECT_EQ(e.bitCount, 32);

        // The image the entry names is there, as long as the entry says.
        std::string_view image = ResourceBytes(module_, MAKEINTRESOURCEW(e.id), RT_ICON);
        ASSERT_EQ(image.size(), e.bytes);
        if (e.width == 256) {
            EXPECT_EQ(image.substr(0, 8), "\x89PNG\r\n\x1a\n"sv);
            continue;
        }
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
        BITMAPINFOHEADER header;
        std::memcpy(&header, image.data(), sizeof header);
        EXPECT_EQ(header.biSize, sizeof(BITMAPINFOHEADER));
        EXPECT_EQ(header.biWidth, e.width);
        EXPECT_EQ(header.biHeight, 2 * e.width);  // colour image and AND mask
        EXPECT_EQ(header.biPlanes, 1);
        EXPECT_EQ(header.biBitCount, 32);
        EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, kIconSizes);
}

TEST_F(AgentResources, SmallIconsLoadFromTheirOwnImagesWithAlpha) {
    std::string_view group = ResourceBytes(module_, MAKEINTRESOURCEW(IDI_APP), RT_GROUP_ICON);
    ASSERT_FALSE(group.empty());
    std::vector<GroupEntry> entries = GroupEntries(group);

    for (int size : {16, 32}) {
        SCOPED_TRACE(testing::Message() << size << " px");
        // Windows picks the image drawn for this size, not a scaled one.
        auto own = std::find_if(entries.begin(), entries.end(),
                                [size](const GroupEntry& e) { return e.width == size; });
        ASSERT_NE(own, entries.end());
        EXPECT_EQ(
            LookupIconIdFromDirectoryEx(reinterpret_cast<BYTE*>(const_cast<char*>(group.data())),
                                        TRUE, size, size, LR_DEFAULTCOLOR),
            own->id);

        VbUnique<IconTraits> icon(static_cast<HICON>(LoadImageW(
            module_, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
        ASSERT_TRUE(icon) << "LoadImageW failed, error " << GetLastError();
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon.Get(), &info));
        VbUnique<BitmapTraits> colour(info.hbmColor);
        VbUnique<BitmapTraits> mask(info.hbmMask);
        EXPECT_TRUE(info.fIcon);
        ASSERT_TRUE(colour) << "a monochrome icon";
        BITMAP bitmap = {};
        ASSERT_NE(GetObjectW(colour.Get(), sizeof bitmap, &bitmap), 0);
        EXPECT_EQ(bitmap.bmWidth, size);
        EXPECT_EQ(bitmap.bmHeight, size);

        // The alpha channel came through: transparent corner, opaque middle.
        BITMAPINFO format = {};
        format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        format.bmiHeader.biWidth = size;
        format.bmiHeader.biHeight = -size;  // top-down
        format.bmiHeader.biPlanes = 1;
        format.bmiHeader.biBitCount = 32;
        format.bmiHeader.biCompression = BI_RGB;
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(size) * size);
        VbUnique<DcTraits> dc(CreateCompatibleDC(nullptr));
        ASSERT_TRUE(dc);
        ASSERT_EQ(
            GetDIBits(dc.Get(), colour.Get(), 0, size, pixels.data(), &format, DIB_RGB_COLORS),
            size);
        auto alpha = [&](int x, int y) { return pixels[y * size + x] >> 24; };
        EXPECT_EQ(alpha(0, 0), 0u);
        EXPECT_EQ(alpha(size - 1, 0), 0u);
        EXPECT_EQ(alpha(size / 2, size / 2), 255u);
    }
}

TEST_F(AgentResources, OneManifestAsResourceOne) {
    int names = 0;
    EnumResourceNamesW(module_, RT_MANIFEST, CountName, reinterpret_cast<LONG_PTR>(&names));
    EXPECT_EQ(names, 1) << "a second manifest (the MSVC linker's own?) sits beside ours";
    int languages = 0;
    EnumResourceLanguagesW(module_, RT_MANIFEST, MAKEINTRESOURCEW(1), CountLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, 1);
}

TEST_F(AgentResources, ManifestAsksForAdministratorAndCommonControls6) {
    std::string_view manifest = ResourceBytes(module_, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_FALSE(manifest.empty()) << "no RT_MANIFEST 1";

    // The program's own identity is the first assemblyIdentity in the file.
    std::string_view identity = Element(manifest, "assemblyIdentity");
    EXPECT_TRUE(Has(identity, R"(name="Vellumbrook.Agent")")) << identity;
    EXPECT_TRUE(Has(identity, R"(version="1.0.0.0")")) << identity;
    EXPECT_TRUE(Has(identity, R"(type="win32")")) << identity;
    EXPECT_TRUE(Has(identity, R"(processorArchitecture="amd64")")) << identity;

    std::string_view level = Element(manifest, "requestedExecutionLevel");
    EXPECT_TRUE(Has(level, R"(level="requireAdministrator")")) << level;
    EXPECT_TRUE(Has(level, R"(uiAccess="false")")) << level;

    std::size_t dependent = manifest.find("<dependentAssembly>");
    ASSERT_NE(dependent, std::string_view::npos);
    std::string_view controls = Element(manifest, "assemblyIdentity", dependent);
    EXPECT_TRUE(Has(controls, R"(name="Microsoft.Windows.Common-Controls")")) << controls;
    EXPECT_TRUE(Has(controls, R"(version="6.0.0.0")")) << controls;
    EXPECT_TRUE(Has(controls, R"(type="win32")")) << controls;
    EXPECT_TRUE(Has(controls, R"(publicKeyToken="6595b64144ccf1df")")) << controls;
    EXPECT_TRUE(Has(controls, R"(processorArchitecture="*")")) << controls;
    EXPECT_TRUE(Has(controls, R"(language="*")")) << controls;

    // Vista, 7, 8, 8.1, and 10/11.
    for (std::string_view id :
         {"{e2011457-1546-43c5-a5fe-008deee3d3f0}"sv, "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"sv,
          "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"sv, "{1f676c76-80e1-4239-95bb-83d0f6d0da78}"sv,
          "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"sv}) {
        EXPECT_TRUE(Has(manifest, R"(<supportedOS Id=")" + std::string(id) + "\""))
            << "missing supportedOS " << id;
    }
}

TEST_F(AgentResources, VersionBlockIsFrenchUnicode) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path_->c_str(), &ignored);
    ASSERT_NE(size, 0u) << "no version block, error " << GetLastError();
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path_->c_str(), 0, size, block.data()));

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);  // 1.0
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000000u);  // .0.0
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000000u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    const auto* translation = static_cast<const WORD*>(value);
    EXPECT_EQ(translation[0], 0x040C);  // French (France)
    EXPECT_EQ(translation[1], 1200);    // UTF-16

    auto text = [&](const wchar_t* name) -> std::wstring {
        std::wstring query = std::wstring(L"\\StringFileInfo\\040C04B0\\") + name;
        void* found = nullptr;
        UINT chars = 0;
        if (!VerQueryValueW(block.data(), query.c_str(), &found, &chars)) return L"<missing>";
        const auto* stored = static_cast<const wchar_t*>(found);
        return std::wstring(stored, wcsnlen(stored, chars));  // without the NUL, if stored
    };
    EXPECT_EQ(text(L"FileDescription"), L"Vellumbrook - protection familiale");
    EXPECT_EQ(text(L"ProductName"), L"Vellumbrook");
    EXPECT_EQ(text(L"FileVersion"), L"1.0.0.0");
    EXPECT_EQ(text(L"ProductVersion"), L"1.0.0.0");
    EXPECT_EQ(text(L"InternalName"), L"Vellumbrook.exe");
    EXPECT_EQ(text(L"OriginalFilename"), L"Vellumbrook.exe");
    std::wstring company = text(L"CompanyName");
    EXPECT_TRUE(company == L"<missing>" || company.empty());
}

}  // namespace
