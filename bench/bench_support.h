// What the benchmark programs share: a clock, medians, the sandbox check, the
// simulated adapters, and the writers of the printed table and of the JSON file.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Milliseconds from the performance counter.
double BenchNowMs() noexcept;
// Milliseconds between two FILETIME readings (b - a).
double BenchSpanMs(const FILETIME& a, const FILETIME& b) noexcept;
std::uint64_t BenchTicks(const FILETIME& time) noexcept;
// This process's processor time (kernel + user) in milliseconds.
double BenchProcessCpuMs() noexcept;

double BenchMedian(std::vector<double> values);

// True only under Wine with VB_TEST_SANDBOX=1, as the harness sets it: the
// benchmark rewrites the hosts file, HKLM policies and ProgramData.
bool BenchIsSandbox() noexcept;
// Prints why the program refuses to run, and returns the harness's "skipped" code.
int BenchRefuse(const char* program);

std::wstring BenchWiden(std::string_view utf8);
std::string BenchNarrow(std::wstring_view utf16);

// Simulated adapters are "Ethernet 1" to "Ethernet N": the agent and the bare
// command runner must use the same names.
std::string BenchAdapterName(int index);
// The netsh command lines of one enforcement pass, as the agent writes them:
// the listing first, then four per adapter.
std::vector<std::wstring> BenchPassCommands(int adapters);
// Replaces the simulator's state with `adapters` connected adapters on DHCP.
void BenchSetAdapters(int adapters);

// A small hosts file, as on a machine that nobody has edited.
void BenchWriteSmallHosts();
std::wstring BenchHostsPath();

// The bytes of a whole file; false when it cannot be read.
bool BenchReadFile(const std::wstring& path, std::string& bytes);

// One JSON object, written in order. Keys and string values are plain ASCII.
class BenchJson {
public:
    BenchJson& Number(std::string_view key, double value);
    BenchJson& Integer(std::string_view key, long long value);
    BenchJson& Text(std::string_view key, std::string_view value);
    BenchJson& Boolean(std::string_view key, bool value);
    BenchJson& Object(std::string_view key, const BenchJson& value);
    BenchJson& Numbers(std::string_view key, const std::vector<double>& values);
    std::string Str() const;

private:
    void Key(std::string_view key);
    std::string body_;
};

// Writes text to a file named by a Windows path; false on failure.
bool BenchWriteText(const std::wstring& path, std::string_view text);

// One row of the printed table: what, the measured figure, its baseline, and a
// note (a ratio, a growth, a method).
void BenchRow(std::string_view what, std::string_view value, std::string_view baseline,
              std::string_view note);
void BenchHeading(std::string_view title);
std::string BenchFormat(const char* format, ...);

// When child processes end, as their parent can first see it. Under Wine,
// GetProcessTimes reports no processor time for another process, and starting a
// process costs work in the parent, the child and wineserver alike; so a child's
// time is wall time, from just before CreateProcessW to the moment its process
// handle is signalled, noted by a thread-pool wait on a copy of the handle. Both
// sides of a comparison measure their children with this same clock.
class BenchChildClock {
public:
    struct Span {
        double startMs;
        double endMs;      // the handle was signalled
        double exitLagMs;  // of the span, the part after the exit time Wine recorded
    };

    // Call just before CreateProcessW.
    void Starting() noexcept;
    // Call right after a successful CreateProcessW with its process handle.
    void Started(HANDLE process) noexcept;
    // The spans of the children started since the last call, in order; waits for
    // each to end and releases it.
    std::vector<Span> Take();

private:
    struct Record {
        HANDLE process = nullptr;
        HANDLE wait = nullptr;
        FILETIME started = {};
        double startMs = 0;
        std::atomic<double> endMs{0};
    };
    static VOID CALLBACK NoteEnd(PVOID record, BOOLEAN) noexcept;

    // Fixed places: the thread pool writes into them.
    std::array<Record, 128> records_;
    std::size_t count_ = 0;
    FILETIME nextStart_ = {};
    double nextStartMs_ = 0;
};

// A run of back-to-back children cut into the time in them and the time between.
struct BenchSplit {
    double wall = 0;
    double child = 0;        // in the children
    double before = 0;       // before the first child started
    double listingTail = 0;  // from the end of the first child (the listing) to the next start
    double between = 0;      // between the other children
    double after = 0;        // after the last child ended
    double exitLag = 0;      // summed over the children
    std::size_t children = 0;

    double Own() const { return wall - child; }
};
BenchSplit BenchSplitRun(double beginMs, double endMs,
                         const std::vector<BenchChildClock::Span>& spans);
