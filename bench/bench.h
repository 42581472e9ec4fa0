// What the two benchmark programs share: the clock, the median, the table, the
// sandbox check, and the machine every figure is measured on.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"

inline double NowMs() noexcept {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Every series here has an odd number of values.
inline double Median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

inline void Heading(const char* title) {
    std::printf("\n%s\n  %-46s %12s %12s  %s\n", title, "figure", "measured", "baseline", "note");
}

// One line of the table: the figure and its baseline (NAN: none) with `decimals`
// decimals, then a note in printf format.
inline void Row(const char* what, int decimals, double measured, double baseline, const char* note,
                ...) {
    char text[256], base[32] = "-";
    va_list args;
    va_start(args, note);
    std::vsnprintf(text, sizeof text, note, args);
    va_end(args);
    if (!std::isnan(baseline)) std::snprintf(base, sizeof base, "%.*f", decimals, baseline);
    std::printf("  %-46s %12.*f %12s  %s\n", what, decimals, measured, base, text);
    std::fflush(stdout);
}

// The benchmark rewrites the hosts file, config.dat and HKLM: it runs only under
// Wine, in the throwaway prefix of tools/bench.sh (which sets VB_TEST_SANDBOX=1).
inline bool InSandbox() noexcept {
    const char* flag = std::getenv("VB_TEST_SANDBOX");
    return flag != nullptr && std::strcmp(flag, "1") == 0 &&
           GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

inline std::string ReadText(const char* path) {
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER size = {};
    std::string text(file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size) ? size.LowPart : 0,
                     0);
    DWORD got = 0;
    if (file != INVALID_HANDLE_VALUE && !ReadFile(file, text.data(), size.LowPart, &got, nullptr))
        got = 0;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return text.substr(0, got);
}

// Flushed before it is closed, as the agent writes its files.
inline bool WriteText(const char* path, const std::string& text) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    bool ok = file != INVALID_HANDLE_VALUE &&
              WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
              written == text.size() && FlushFileBuffers(file);
    return file != INVALID_HANDLE_VALUE && CloseHandle(file) && ok;
}

// Protection on, no password, 64 sites of 255 bytes in labels of 63 letters; a
// small hosts file; the netsh simulator's adapters "Ethernet 1" to "Ethernet N"
// (indexes 1001 on, off those of Wine's own interfaces), connected, on DHCP; the
// firewall rules of an earlier pass kept, as on a machine the agent runs on.
inline bool SetUpMachine(VbConfig& config, int adapters) {
    std::memset(&config, 0, sizeof config);
    config.enabled = 1;
    config.siteCount = VbMaxSites;
    for (int i = 0; i < VbMaxSites; ++i) {
        std::snprintf(config.sites[i], VbSiteSlotSize, "s%02d", i);
        for (std::size_t j = 3; j < VbSiteSlotSize - 1; ++j)
            config.sites[i][j] = (j + 1) % 64 == 0 ? '.' : static_cast<char>('a' + (i + j) % 26);
    }
    std::string state, old = ReadText("C:\\netsh-sim\\state.txt");
    for (std::size_t at = old.find("rule "); at != std::string::npos;
         at = old.find("rule ", at + 1))
        state += old.substr(at, old.find('\n', at) + 1 - at);
    for (int i = 1; i <= adapters; ++i)
        state += std::to_string(1000 + i) + " connected dhcp dhcp - Ethernet " + std::to_string(i) +
                 "\n";
    CreateDirectoryW(L"C:\\netsh-sim", nullptr);
    return WriteText("C:\\netsh-sim\\state.txt", state) &&
           WriteText("C:\\windows\\system32\\drivers\\etc\\hosts", "127.0.0.1 localhost\r\n") &&
           VbSaveConfig(&config) == 1;
}
