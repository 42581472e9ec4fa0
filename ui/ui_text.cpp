// Password and site-list text of the agent's windows.
#include "ui/ui_text.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "common/vb_text.h"

namespace {

bool IsHighSurrogate(char16_t unit) noexcept {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) noexcept {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Encodes one code point; returns its length in bytes.
std::size_t EncodeUtf8(char32_t point, char (&bytes)[4]) noexcept {
    if (point < 0x80) {
        bytes[0] = static_cast<char>(point);
        return 1;
    }
    if (point < 0x800) {
        bytes[0] = static_cast<char>(0xC0 | (point >> 6));
        bytes[1] = static_cast<char>(0x80 | (point & 0x3F));
        return 2;
    }
    if (point < 0x10000) {
        bytes[0] = static_cast<char>(0xE0 | (point >> 12));
        bytes[1] = static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (point & 0x3F));
        return 3;
    }
    bytes[0] = static_cast<char>(0xF0 | (point >> 18));
    bytes[1] = static_cast<char>(0x80 | ((point >> 12) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    bytes[3] = static_cast<char>(0x80 | (point & 0x3F));
    return 4;
}

bool IsSiteByte(char16_t unit) noexcept {
    return (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z') ||
           (unit >= u'0' && unit <= u'9') || unit == u'-' || unit == u'.';
}

std::u16string_view Trim(std::u16string_view line) noexcept {
    while (!line.empty() && (line.front() == u' ' || line.front() == u'\t'))
        line.remove_prefix(1);
    while (!line.empty() && (line.back() == u' ' || line.back() == u'\t'))
        line.remove_suffix(1);
    return line;
}

}  // namespace

std::size_t Utf16ToUtf8Cut(std::u16string_view text, std::span<char> out) noexcept {
    if (out.empty()) return 0;
    std::size_t used = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t point = text[i];
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            point =
                0x10000 + ((char32_t{text[i]} - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00);
            ++i;
        } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
            point = 0xFFFD;  // an unpaired half, as the platform converts it
        }
        char bytes[4];
        std::size_t length = EncodeUtf8(point, bytes);
        if (used + length > out.size() - 1) break;  // never half a character
        std::memcpy(out.data() + used, bytes, length);
        used += length;
    }
    out[used] = '\0';
    return used;
}

SiteListOutcome ParseSiteList(std::u16string_view text, VbConfig& config) noexcept {
    SiteListOutcome outcome = {};
    config.siteCount = 0;
    auto ignore = [&outcome](std::u16string_view line) {
        if (outcome.shownCount < SiteListOutcome::Shown) outcome.shown[outcome.shownCount++] = line;
        ++outcome.ignoredCount;
    };
    while (!text.empty()) {
        std::size_t end = text.find_first_of(u"\r\n");
        std::u16string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::u16string_view::npos ? text.size() : end + 1);
        if (line.empty()) continue;
        if (config.siteCount >= VbMaxSites) {
            ignore(line);
            continue;
        }
        bool valid = true;
        for (char16_t unit : line)
            valid = valid && IsSiteByte(unit);
        if (!valid) {
            ignore(line);
            continue;
        }
        char ascii[VbSiteSlotSize];
        std::size_t length = line.size() < VbSiteSlotSize - 1 ? line.size() : VbSiteSlotSize - 1;
        for (std::size_t i = 0; i < length; ++i)
            ascii[i] = static_cast<char>(line[i]);
        VbCopyBounded(config.sites[config.siteCount++], std::string_view(ascii, length));
    }
    return outcome;
}

namespace {

// Appends to a NUL-terminated text in a fixed buffer, dropping what does not fit.
class TextBuilder {
public:
    explicit TextBuilder(std::span<char16_t> out) noexcept : out_(out) {
        if (!out_.empty()) out_[0] = u'\0';
    }
    TextBuilder& operator<<(std::u16string_view text) noexcept {
        for (char16_t unit : text) {
            if (used_ + 1 >= out_.size()) break;
            out_[used_++] = unit;
        }
        if (!out_.empty()) out_[used_] = u'\0';
        return *this;
    }
    TextBuilder& operator<<(std::uint64_t number) noexcept {
        char16_t digits[20];
        std::size_t n = 0;
        std::uint64_t value = number;
        do
            digits[n++] = static_cast<char16_t>(u'0' + value % 10);
        while ((value /= 10) != 0);
        char16_t ordered[20];
        for (std::size_t i = 0; i < n; ++i)
            ordered[i] = digits[n - 1 - i];
        return *this << std::u16string_view(ordered, n);
    }
    TextBuilder& operator<<(int number) noexcept {
        return *this << static_cast<std::uint64_t>(number < 0 ? 0 : number);
    }
    std::size_t Length() const noexcept { return used_; }

private:
    std::span<char16_t> out_;
    std::size_t used_ = 0;
};

constexpr std::size_t kShownLineMax = 60;

}  // namespace

std::size_t DescribeIgnoredLines(const SiteListOutcome& outcome, std::span<char16_t> out) noexcept {
    TextBuilder text(out);
    if (outcome.ignoredCount <= 0) return 0;
    if (outcome.ignoredCount == 1)
        text << u"1 ligne n'a pas été enregistrée :\n\n";
    else
        text << outcome.ignoredCount << u" lignes n'ont pas été enregistrées :\n\n";
    for (int i = 0; i < outcome.shownCount; ++i) {
        std::u16string_view line = outcome.shown[i];
        text << u"    " << line.substr(0, kShownLineMax)
             << (line.size() > kShownLineMax ? u"…" : u"") << u"\n";
    }
    int more = outcome.ignoredCount - outcome.shownCount;
    if (more == 1) text << u"    … et 1 autre\n";
    if (more > 1) text << u"    … et " << more << u" autres\n";
    text << u"\nUn site s'écrit avec des lettres sans accent, des chiffres, des tirets et des "
            u"points, sans espace ; la liste en garde 64 au plus.";
    return text.Length();
}

bool PassIncomplete(const VbPassReport& report) noexcept {
    return !report.configRead || report.dnsFailed || report.lockFailed || report.hostsFailed ||
           report.browsersFailed;
}

namespace {

// The steps that failed, in pass order: "A", "A et B", "A, B et C".
void NameFailedSteps(TextBuilder& text, std::span<const bool> failed) noexcept {
    constexpr std::u16string_view kSteps[] = {
        u"le filtrage DNS",   u"le verrou DNS",
        u"les sites bloqués", u"le verrouillage des navigateurs",
        u"les paramètres",    u"le démarrage automatique",
        u"le service"};
    int count = 0;
    for (bool step : failed)
        count += step ? 1 : 0;
    for (std::size_t i = 0, named = 0; i < failed.size() && i < std::size(kSteps); ++i) {
        if (!failed[i]) continue;
        if (named > 0) text << (static_cast<int>(named) == count - 1 ? u" et " : u", ");
        text << kSteps[i];
        ++named;
    }
}

}  // namespace

std::size_t DescribePass(const VbPassReport& report, std::span<char16_t> out) noexcept {
    TextBuilder text(out);
    if (!PassIncomplete(report)) {
        text << (!report.enabled ? u"Protection désactivée : DNS et sites personnalisés ont été "
                                   u"rétablis."
                 : report.firewallOff
                     ? u"Protection appliquée, sans verrou DNS : le pare-feu Windows est "
                       u"désactivé."
                     : u"Protection appliquée : filtrage DNS + sites personnalisés actifs.");
        return text.Length();
    }
    const bool failed[] = {!report.configRead || report.dnsFailed != 0,
                           !report.configRead || report.lockFailed != 0,
                           !report.configRead || report.hostsFailed != 0,
                           !report.configRead || report.browsersFailed != 0};
    text << (report.enabled ? u"Protection incomplète : échec pour "
                            : u"Désactivation incomplète : échec pour ");
    NameFailedSteps(text, failed);
    text << u". Nouvel essai dans une minute.";
    return text.Length();
}

std::size_t DescribeRevertQuestion(const VbPassReport& report, std::span<char16_t> out) noexcept {
    TextBuilder text(out);
    const bool failed[] = {report.dnsFailed != 0, report.lockFailed != 0, report.hostsFailed != 0,
                           report.browsersFailed != 0};
    text << u"Vellumbrook n'a pas pu rétablir : ";
    NameFailedSteps(text, failed);
    text << u". Désinstaller quand même ?";
    return text.Length();
}

std::size_t DescribeUninstall(bool folderRemoved, bool taskRemoved, bool serviceRemoved,
                              std::span<char16_t> out) noexcept {
    TextBuilder text(out);
    const bool failed[] = {false,          false,        false,          false,
                           !folderRemoved, !taskRemoved, !serviceRemoved};
    text << u"Désinstallation incomplète : échec pour ";
    NameFailedSteps(text, failed);
    text << u". Relancez la désinstallation dans un instant.";
    return text.Length();
}

const char16_t* TrayTipFor(const VbPassReport& report) noexcept {
    if (!report.configRead) return u"Vellumbrook - paramètres illisibles";
    if (report.enabled)
        return PassIncomplete(report) ? u"Vellumbrook - protection incomplète"
               : report.firewallOff   ? u"Vellumbrook - active, sans verrou DNS (pare-feu "
                                      u"désactivé)"
                                    : u"Vellumbrook - protection active";
    return PassIncomplete(report) ? u"Vellumbrook - désactivation incomplète"
                                  : u"Vellumbrook - protection désactivée";
}

std::uint64_t PasswordWaitSeconds(const PasswordGuard& guard, std::uint64_t now) noexcept {
    return guard.lockedUntil > now ? (guard.lockedUntil - now + 999) / 1000 : 0;
}

void NotePasswordChecked(PasswordGuard& guard, bool right, std::uint64_t now) noexcept {
    constexpr std::uint64_t kLongestWaitMs = 15 * 60 * 1000;
    if (right) {
        guard = {};
        return;
    }
    if (++guard.wrongInRow < 3) return;
    guard.lockedUntil = now + guard.nextWaitMs;
    guard.nextWaitMs = std::min(2 * guard.nextWaitMs, kLongestWaitMs);
}

std::size_t DescribePasswordWait(std::uint64_t seconds, std::span<char16_t> out) noexcept {
    TextBuilder text(out);
    text << u"Trop d'essais. Réessayez dans " << seconds
         << (seconds == 1 ? u" seconde." : u" secondes.");
    return text.Length();
}
