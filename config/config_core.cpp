// config.dat text to VbConfig and back, without any I/O.
#include "config/config_core.h"

#include <algorithm>
#include <cstring>

#include "common/vb_text.h"

void SetFirstStartDefaults(VbConfig& config) noexcept {
    std::memset(&config, 0, sizeof config);
    config.enabled = 1;
}

void AcceptConfigLine(VbConfig& config, int index, std::string_view piece) noexcept {
    // A NUL byte ends the line's text, as it does for the C string fgets fills.
    std::string_view line = piece.substr(0, piece.find('\0'));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);

    switch (index) {
        case 0:
            VbCopyBounded(config.salt, line);
            break;
        case 1:
            VbCopyBounded(config.hash, line);
            config.hasPassword = config.hash[0] != '\0' ? 1 : 0;
            break;
        case 2:
            config.enabled = line == "1" ? 1 : 0;
            break;
        default:
            if (line.empty() || config.siteCount >= VbMaxSites) break;
            VbCopyBounded(config.sites[config.siteCount], line);
            ++config.siteCount;
            break;
    }
}

bool ConfigIsFull(const VbConfig& config, int nextIndex) noexcept {
    return nextIndex > 2 && config.siteCount >= VbMaxSites;
}

void ParseConfigText(std::string_view text, VbConfig& config) noexcept {
    auto fill = [&text](std::span<char> buffer) -> long {
        std::size_t n = std::min(buffer.size(), text.size());
        std::memcpy(buffer.data(), text.data(), n);
        text.remove_prefix(n);
        return static_cast<long>(n);
    };
    ReadConfig(fill, config);
}

std::size_t FormatConfigText(const VbConfig& config, std::span<char> out) noexcept {
    if (out.size() < ConfigTextMax) return 0;
    std::size_t used = 0;
    auto line = [&](std::string_view text, std::size_t limit) {
        text = text.substr(0, limit);
        std::memcpy(out.data() + used, text.data(), text.size());
        used += text.size();
        out[used++] = '\n';
    };
    line(VbFieldText(config.salt), sizeof config.salt - 1);
    line(VbFieldText(config.hash), sizeof config.hash - 1);
    line(config.enabled != 0 ? "1" : "0", 1);
    int count = std::clamp(config.siteCount, 0, VbMaxSites);
    for (int i = 0; i < count; ++i)
        line(VbFieldText(config.sites[i]), VbSiteSlotSize - 1);
    return used;
}
