// vb_bench_pass.exe: the agent's own work, timed in this process beside its floor:
// an enforcement pass (protection on, 64 sites) over 1, 4 and 16 simulated
// adapters beside the netsh command lines it starts (the DNS lock's four included,
// its rules in place), run bare through the same runner; a rewrite of a 4 MiB hosts file beside a
// plain safe copy of its bytes; a config.dat load beside a bare read. Figure and baseline
// alternate, run by run.
//
// Time in child processes: this program puts itself into a job object, which
// every process it starts joins, and a thread notes when the job's processes come
// and go (its completion port). The netsh commands' lifetimes, summed, are the
// time in child processes, in both columns.
#include <windows.h>

#include <atomic>

#include "bench/bench.h"
#include "protection/dnslock_core.h"
#include "protection/enforce.h"
#include "protection/hosts.h"
#include "protection/procutil.h"

namespace {

constexpr char kHosts[] = "C:\\windows\\system32\\drivers\\etc\\hosts";
constexpr char kHostsCopy[] = "C:\\windows\\system32\\drivers\\etc\\hosts.bench";
// The pass's commands for one adapter, as protection/dns.cpp writes them.
constexpr const wchar_t* kApplyCommands[] = {
    L"netsh interface ipv4 set dnsservers name=%d source=static address=1.1.1.3 "
    L"register=none validate=no",
    L"netsh interface ipv4 add dnsservers name=%d address=1.0.0.3 index=2 validate=no",
    L"netsh interface ipv6 set dnsservers name=%d source=static "
    L"address=2606:4700:4700::1113 register=none validate=no",
    L"netsh interface ipv6 add dnsservers name=%d address=2606:4700:4700::1003 "
    L"index=2 validate=no"};
// The DNS lock's rules put right in place, as protection/dnslock.cpp does.
constexpr const wchar_t* kLockRules[][3] = {{L"verrou DNS (UDP)", L"udp", L"53,853"},
                                            {L"verrou DNS (TCP)", L"tcp", L"53,853"},
                                            {L"DNS sur HTTPS (UDP)", L"udp", L"443"},
                                            {L"DNS sur HTTPS (TCP)", L"tcp", L"443"}};

HANDLE g_port = nullptr;
std::atomic<DWORD> g_netsh{0};  // the command running now; 0 when none
std::atomic<int> g_netshRuns{0};
std::atomic<double> g_childMs{0};  // written by the watching thread only

// Under Wine each console child brings a conhost.exe of its own into the job,
// which outlives it by some 100 ms. The commands run one at a time, and a
// command's conhost starts while the command runs: so a process that starts while
// no command runs is the next command, and only the commands' lifetimes count.
DWORD WINAPI WatchChildren(void*) {
    DWORD message = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* detail = nullptr;  // the process id, for these messages
    double since = 0;
    while (GetQueuedCompletionStatus(g_port, &message, &key, &detail, INFINITE)) {
        auto id = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(detail));
        if (message == JOB_OBJECT_MSG_NEW_PROCESS && g_netsh == 0 && id != GetCurrentProcessId()) {
            g_netsh = id;
            since = NowMs();
        } else if ((message == JOB_OBJECT_MSG_EXIT_PROCESS ||
                    message == JOB_OBJECT_MSG_ABNORMAL_EXIT_PROCESS) &&
                   id == g_netsh && id != 0) {
            g_childMs = g_childMs + (NowMs() - since);
            ++g_netshRuns;
            g_netsh = 0;
        }
    }
    return 0;
}

bool WatchChildProcesses() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    g_port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT link = {job, g_port};
    return job != nullptr && g_port != nullptr &&
           SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &link,
                                   sizeof link) &&
           AssignProcessToJobObject(job, GetCurrentProcess()) &&
           CreateThread(nullptr, 0, WatchChildren, nullptr, 0, nullptr) != nullptr;
}

struct Timed {
    double wallMs, childMs;
    int netshRuns;
};

template <class Work>
Timed Time(Work work) {
    int runs = g_netshRuns;
    double child = g_childMs;
    double begin = NowMs();
    work();
    double wall = NowMs() - begin;
    // The last command's end reaches the watching thread a moment after the wait for it.
    for (int i = 0; i < 2000 && g_netsh != 0; ++i)
        Sleep(1);
    return {wall, g_childMs - child, g_netshRuns - runs};
}

void RunBareCommands(int adapters) {
    static wchar_t addresses[2][1024];
    if (addresses[0][0] == L'\0') {
        const std::string_view family[] = {"1.1.1.3", "1.0.0.3", "2606:4700:4700::1113",
                                           "2606:4700:4700::1003"};
        char list[1024];
        std::string_view lists[] = {{list, DnsLockRemoteAddresses(family, list)},
                                    PublicResolverAddresses};
        for (int i = 0; i < 2; ++i)
            std::copy(lists[i].begin(), lists[i].end(), addresses[i]);
    }
    wchar_t line[2048] = L"netsh interface ipv4 show interfaces";
    std::free(VbRunHiddenCapture(line));
    for (int i = 1; i <= adapters; ++i)
        for (const wchar_t* command : kApplyCommands) {
            std::swprintf(line, 2048, command, 1000 + i);
            VbRunHidden(line);
        }
    for (int rule = 0; rule < 4; ++rule) {
        std::swprintf(
            line, 2048,
            L"netsh advfirewall firewall set rule name=\"Vellumbrook - %ls\" new enable=yes "
            L"dir=out action=block profile=any protocol=%ls localip=any remoteip=%ls "
            L"localport=any remoteport=%ls interfacetype=any",
            kLockRules[rule][0], kLockRules[rule][1], addresses[rule / 2], kLockRules[rule][2]);
        VbRunHidden(line);
    }
}

bool BenchPasses(VbConfig& config, int adapters, int runs) {
    std::vector<double> wall, child, outside, bareWall, bareChild, bareOutside, own;
    const int expected = 1 + 4 * adapters + 4;
    int redone = 0;
    while (static_cast<int>(wall.size()) < runs) {
        SetUpMachine(config, adapters);
        Timed pass = Time([] { VbEnforceFromConfig(); });
        SetUpMachine(config, adapters);
        Timed bare = Time([&] { RunBareCommands(adapters); });
        // Under Wine a CreateProcessW now and then fails: such a run is done again.
        if (pass.netshRuns != expected || bare.netshRuns != expected) {
            if (++redone <= runs) continue;
            std::fprintf(stderr, "vb_bench_pass: %d adapters: %d and %d netsh runs, not %d\n",
                         adapters, pass.netshRuns, bare.netshRuns, expected);
            return false;
        }
        wall.push_back(pass.wallMs);
        child.push_back(pass.childMs);
        bareWall.push_back(bare.wallMs);
        bareChild.push_back(bare.childMs);
        // Steadier than the difference of two walls: each side less its own children.
        outside.push_back(pass.wallMs - pass.childMs);
        bareOutside.push_back(bare.wallMs - bare.childMs);
        own.push_back(pass.wallMs - bare.wallMs);
    }
    char what[64];
    std::snprintf(what, sizeof what, "%d adapter%s: wall ms", adapters, adapters > 1 ? "s" : "");
    Row(what, 1, Median(wall), Median(bareWall), "%d netsh runs; median of %d runs%s", expected,
        runs, redone ? ", some redone after a failed CreateProcessW" : "");
    Row("  in child processes ms", 1, Median(child), Median(bareChild), "");
    Row("  outside child processes ms", 1, Median(outside), Median(bareOutside), "");
    Row("  own ms (wall - bare commands' wall)", 1, Median(own), NAN,
        "%.1f%% of the pass; runs from %.1f to %.1f", 100 * Median(own) / Median(wall),
        *std::min_element(own.begin(), own.end()), *std::max_element(own.begin(), own.end()));
    return true;
}

// Times `calls` calls of `work`, then of `floor`, `runs` times over; the medians of
// the time per call of each, and of their ratio.
template <class Work, class Floor>
bool Alternate(int runs, int calls, Work work, Floor floor, double (&medians)[3]) {
    std::vector<double> times[3];
    bool ok = true;
    for (int run = 0; run < runs; ++run) {
        double begin = NowMs();
        for (int i = 0; i < calls; ++i)
            ok = work() && ok;
        times[0].push_back((NowMs() - begin) / calls);
        begin = NowMs();
        for (int i = 0; i < calls; ++i)
            ok = floor() && ok;
        times[1].push_back((NowMs() - begin) / calls);
        times[2].push_back(times[0].back() / times[1].back());
    }
    for (int i = 0; i < 3; ++i)
        medians[i] = Median(times[i]);
    return ok;
}

// What any safe rewrite of the file must do: write a temporary file, flush it (so
// that a power cut never leaves a short hosts file) and rename it over the file.
bool PlainCopy() {
    return WriteText(kHostsCopy, ReadText(kHosts)) &&
           MoveFileExA(kHostsCopy, kHosts, MOVEFILE_REPLACE_EXISTING);
}

bool BenchHosts(VbConfig& config) {
    // The agent takes a hosts file of up to 4 MiB: the block's size, seen on the
    // small file, is left for it.
    constexpr std::size_t kMax = 4u << 20;
    std::size_t small = ReadText(kHosts).size();
    if (!VbApplyHostsBlock(config.sites, config.siteCount)) return false;
    std::size_t fill = kMax - (ReadText(kHosts).size() - small);
    std::string filler, line = "0.0.0.0 ad.tracker.example.invalid\r\n";
    while (filler.size() + line.size() + 3 <= fill)
        filler += line;
    filler += std::string(fill - filler.size() - 2, '#') + "\r\n";
    // The first rewrite appends the block; each one after it puts the same block back.
    double ms[3];
    auto rewrite = [&] { return VbApplyHostsBlock(config.sites, config.siteCount) == 1; };
    if (!WriteText(kHosts, filler) || !rewrite() || ReadText(kHosts).size() != kMax ||
        !Alternate(21, 1, rewrite, PlainCopy, ms) || ReadText(kHosts).size() != kMax)
        return false;
    Row("hosts rewrite, 4 MiB with 64 sites of 255 B: ms", 2, ms[0], ms[1],
        "ratio %.2f; median of 21", ms[2]);
    return true;
}

bool BenchConfigLoad() {
    static VbConfig loaded;
    double ms[3];
    if (!Alternate(
            15, 100, [] { return VbLoadConfig(&loaded) == 1 && loaded.siteCount == VbMaxSites; },
            [] { return !ReadText("C:\\ProgramData\\Vellumbrook\\config.dat").empty(); }, ms))
        return false;
    Row("config.dat load, 64 sites: us", 1, ms[0] * 1000, ms[1] * 1000,
        "ratio %.2f; median of 15 batches of 100", ms[2]);
    return true;
}

}  // namespace

int main() {
    static VbConfig config;
    if (!InSandbox() || !SetUpMachine(config, 1) || !WatchChildProcesses()) {
        std::fprintf(stderr, "vb_bench_pass: runs only in the prefix of tools/bench.sh\n");
        return 1;
    }
    Heading("Enforcement pass, protection on, 64 sites; baseline: its netsh commands, run bare");
    VbEnforceFromConfig();  // untimed: warms the file cache, the registry and the simulator
    if (!BenchPasses(config, 1, 9) || !BenchPasses(config, 4, 7) || !BenchPasses(config, 16, 5))
        return 1;
    Heading("Hosts file and configuration; baselines: a plain safe copy, a bare read");
    bool ok = SetUpMachine(config, 1) && BenchHosts(config) && BenchConfigLoad();
    if (!ok) std::fprintf(stderr, "vb_bench_pass: the hosts rewrite or config.dat load failed\n");
    return ok && SetUpMachine(config, 1) ? 0 : 1;
}
