// What the benchmark programs share; see bench_support.h.
#include "bench/bench_support.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "common/vb_handle.h"
#include "tests/fixtures/netsh_state.h"

double BenchNowMs() noexcept {
    static const double perMs = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / perMs;
}

std::uint64_t BenchTicks(const FILETIME& time) noexcept {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

double BenchSpanMs(const FILETIME& a, const FILETIME& b) noexcept {
    return (static_cast<double>(BenchTicks(b)) - static_cast<double>(BenchTicks(a))) / 10000.0;
}

double BenchProcessCpuMs() noexcept {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    return static_cast<double>(BenchTicks(kernel) + BenchTicks(user)) / 10000.0;
}

double BenchMedian(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

bool BenchIsSandbox() noexcept {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    bool underWine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    const char* flag = std::getenv("VB_TEST_SANDBOX");
    return underWine && flag != nullptr && std::string_view(flag) == "1";
}

int BenchRefuse(const char* program) {
    std::fprintf(stderr,
                 "%s: refusing to run: the benchmark rewrites the hosts file, HKLM and "
                 "ProgramData, and runs only in the throwaway Wine prefix (tools/bench.sh)\n",
                 program);
    return 77;
}

std::wstring BenchWiden(std::string_view utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string BenchNarrow(std::wstring_view utf16) {
    int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr,
                                0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::string BenchAdapterName(int index) {
    return "Ethernet " + std::to_string(index);
}

std::vector<std::wstring> BenchPassCommands(int adapters) {
    // The same text as kApplyCommands in protection/dns.cpp: the simulator's log
    // lets the benchmark check that both runs started the very same commands.
    std::vector<std::wstring> commands = {L"netsh interface ipv4 show interfaces"};
    for (int i = 1; i <= adapters; ++i) {
        std::wstring name = BenchWiden(BenchAdapterName(i));
        commands.push_back(L"netsh interface ipv4 set dnsservers name=\"" + name +
                           L"\" source=static address=1.1.1.3 register=none validate=no");
        commands.push_back(L"netsh interface ipv4 add dnsservers name=\"" + name +
                           L"\" address=1.0.0.3 index=2 validate=no");
        commands.push_back(L"netsh interface ipv6 set dnsservers name=\"" + name +
                           L"\" source=static address=2606:4700:4700::1113 register=none "
                           L"validate=no");
        commands.push_back(L"netsh interface ipv6 add dnsservers name=\"" + name +
                           L"\" address=2606:4700:4700::1003 index=2 validate=no");
    }
    return commands;
}

void BenchSetAdapters(int adapters) {
    NetshSimState state;
    for (int i = 1; i <= adapters; ++i) {
        NetshSimAdapter adapter;
        adapter.index = static_cast<unsigned>(10 + i);
        adapter.name = BenchAdapterName(i);
        state.adapters.push_back(adapter);
    }
    WriteNetshSimState(state);
    ClearNetshSimLog();
}

std::wstring BenchHostsPath() {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\drivers\\etc\\hosts";
}

void BenchWriteSmallHosts() {
    BenchWriteText(BenchHostsPath(), "127.0.0.1 localhost\r\n::1 localhost\r\n");
}

bool BenchReadFile(const std::wstring& path, std::string& bytes) {
    VbUniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    bytes.clear();
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr) && got != 0)
        bytes.append(chunk, got);
    return true;
}

bool BenchWriteText(const std::wstring& path, std::string_view text) {
    VbUniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

void BenchJson::Key(std::string_view key) {
    body_ += body_.empty() ? "\"" : ", \"";
    body_ += key;
    body_ += "\": ";
}

BenchJson& BenchJson::Number(std::string_view key, double value) {
    Key(key);
    body_ += BenchFormat("%.6g", value);
    return *this;
}

BenchJson& BenchJson::Integer(std::string_view key, long long value) {
    Key(key);
    body_ += std::to_string(value);
    return *this;
}

BenchJson& BenchJson::Text(std::string_view key, std::string_view value) {
    Key(key);
    body_ += '"';
    for (char c : value) {
        if (c == '"' || c == '\\') body_ += '\\';
        body_ += c;
    }
    body_ += '"';
    return *this;
}

BenchJson& BenchJson::Boolean(std::string_view key, bool value) {
    Key(key);
    body_ += value ? "true" : "false";
    return *this;
}

BenchJson& BenchJson::Object(std::string_view key, const BenchJson& value) {
    Key(key);
    body_ += value.Str();
    return *this;
}

BenchJson& BenchJson::Numbers(std::string_view key, const std::vector<double>& values) {
    Key(key);
    body_ += '[';
    for (std::size_t i = 0; i < values.size(); ++i)
        body_ += (i ? ", " : "") + BenchFormat("%.6g", values[i]);
    body_ += ']';
    return *this;
}

std::string BenchJson::Str() const {
    return "{" + body_ + "}";
}

std::string BenchFormat(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) return {};
    return std::string(buffer,
                       std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
}

void BenchHeading(std::string_view title) {
    std::printf("\n%.*s\n", static_cast<int>(title.size()), title.data());
    std::printf("  %-46s %16s %16s  %s\n", "figure", "measured", "baseline", "note");
    std::fflush(stdout);
}

void BenchRow(std::string_view what, std::string_view value, std::string_view baseline,
              std::string_view note) {
    std::printf("  %-46.*s %16.*s %16.*s  %.*s\n", static_cast<int>(what.size()), what.data(),
                static_cast<int>(value.size()), value.data(), static_cast<int>(baseline.size()),
                baseline.data(), static_cast<int>(note.size()), note.data());
    std::fflush(stdout);
}

void BenchChildClock::Starting() noexcept {
    GetSystemTimePreciseAsFileTime(&nextStart_);
    nextStartMs_ = BenchNowMs();
}

VOID CALLBACK BenchChildClock::NoteEnd(PVOID record, BOOLEAN) noexcept {
    static_cast<Record*>(record)->endMs = BenchNowMs();
}

void BenchChildClock::Started(HANDLE process) noexcept {
    if (count_ == records_.size()) return;
    Record& record = records_[count_];
    if (!DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &record.process,
                         PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, 0))
        return;
    record.started = nextStart_;
    record.startMs = nextStartMs_;
    record.endMs = 0;
    // Run in the wait thread itself, so that the time is read as soon as it wakes.
    if (!RegisterWaitForSingleObject(&record.wait, record.process, NoteEnd, &record, INFINITE,
                                     WT_EXECUTEONLYONCE | WT_EXECUTEINWAITTHREAD)) {
        CloseHandle(record.process);
        return;
    }
    ++count_;
}

std::vector<BenchChildClock::Span> BenchChildClock::Take() {
    std::vector<Span> spans;
    for (std::size_t i = 0; i < count_; ++i) {
        Record& record = records_[i];
        WaitForSingleObject(record.process, INFINITE);
        // Returns once the callback has run.
        UnregisterWaitEx(record.wait, INVALID_HANDLE_VALUE);
        FILETIME created, exited, kernel, user;
        double lag = 0;
        if (GetProcessTimes(record.process, &created, &exited, &kernel, &user))
            lag = (record.endMs - record.startMs) - BenchSpanMs(record.started, exited);
        spans.push_back({record.startMs, record.endMs, lag});
        CloseHandle(record.process);
    }
    count_ = 0;
    return spans;
}

BenchSplit BenchSplitRun(double beginMs, double endMs,
                         const std::vector<BenchChildClock::Span>& spans) {
    BenchSplit split;
    split.wall = endMs - beginMs;
    split.children = spans.size();
    if (spans.empty()) {
        split.before = split.wall;
        return split;
    }
    split.before = spans.front().startMs - beginMs;
    split.after = endMs - spans.back().endMs;
    for (std::size_t i = 0; i < spans.size(); ++i) {
        split.child += spans[i].endMs - spans[i].startMs;
        split.exitLag += spans[i].exitLagMs;
        if (i + 1 == spans.size()) break;
        double gap = spans[i + 1].startMs - spans[i].endMs;
        (i == 0 ? split.listingTail : split.between) += gap;
    }
    return split;
}
