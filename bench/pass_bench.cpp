// vb_bench_pass.exe: the agent's own work, timed in-process beside its floor.
//
//   - one enforcement pass (VbEnforceFromConfig, protection on, 64 sites) against
//     the netsh simulator with 1, 4 and 16 adapters, beside vb_bench_spawn.exe
//     running the same 1 + 4 x N commands back to back;
//   - one hosts rewrite (VbApplyHostsBlock) of a 4 MiB file with a 64-site block
//     of 255-byte names, beside a plain copy of the same bytes to a temporary file
//     and a MoveFileExW over the hosts file;
//   - one load of a full 64-site config.dat (VbLoadConfig), beside opening and
//     reading the same file.
// Each figure and its baseline alternate, run by run.
//
// Time in child processes: see BenchChildClock. The children of a pass run one
// at a time, so their sum is the part of the pass spent in them; the rest of the
// pass's wall time is the agent's own, cut into where it falls (BenchSplit). To
// see each child without changing the agent, this program points its own import
// of CreateProcessW at a wrapper that starts the clock; the agent's code is
// linked into this program and calls through that import.
//
// Under Wine 8 most of the own time comes after the listing's child has ended:
// its pipe reports closed only some 100 ms later (even when the child closed its
// standard output itself; the child's Unix process seems to hold a copy of it
// until it has finished exiting), and the agent, like the bare runner, reads the
// listing until the pipe is closed. Both columns show it.
//
//   vb_bench_pass.exe --spawn PATH [--json PATH] [--reps A,B,C] [--hosts-reps N]
//                     [--config-batches N]
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "common/vb_handle.h"
#include "config/config.h"
#include "password/password.h"
#include "protection/enforce.h"
#include "protection/hosts.h"
#include "protection/hosts_core.h"
#include "tests/fixtures/netsh_state.h"

namespace {

constexpr int kAdapterCounts[] = {1, 4, 16};
constexpr std::size_t kHostsSize = 4u * 1024 * 1024;
constexpr int kConfigLoadsPerBatch = 100;
// vb_bench_spawn.exe's exit code when one of its CreateProcessW calls failed.
constexpr DWORD kSpawnStartFailed = 3;

// ---- The children of a pass, seen through this program's import of CreateProcessW.

using CreateProcessFn = decltype(&CreateProcessW);
CreateProcessFn g_createProcess = nullptr;
bool g_recording = false;
BenchChildClock g_clock;
// Under Wine, CreateProcessW now and then fails; the agent then skips that command
// until its next pass. Such runs are not timed but counted, and run again.
int g_startFailures = 0;
DWORD g_lastStartError = 0;

BOOL WINAPI ClockedCreateProcessW(LPCWSTR application, LPWSTR commandLine,
                                  LPSECURITY_ATTRIBUTES processAttributes,
                                  LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                                  DWORD flags, LPVOID environment, LPCWSTR directory,
                                  LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info) {
    if (g_recording) g_clock.Starting();
    BOOL ok = g_createProcess(application, commandLine, processAttributes, threadAttributes,
                              inheritHandles, flags, environment, directory, startup, info);
    if (ok && g_recording) g_clock.Started(info->hProcess);
    if (!ok && g_recording) {
        g_lastStartError = GetLastError();
        ++g_startFailures;
        SetLastError(g_lastStartError);
    }
    return ok;
}

// Points this program's import address table entry for kernel32!CreateProcessW
// at the wrapper.
bool WrapCreateProcess() {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return false;
    auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
    for (; module->Name != 0; ++module) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + module->Name), "kernel32.dll") != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char*>(byName->Name), "CreateProcessW") != 0) continue;
            DWORD protection = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                                &protection))
                return false;
            g_createProcess = reinterpret_cast<CreateProcessFn>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(&ClockedCreateProcessW);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            return true;
        }
    }
    return false;
}

// ---- Small statistics.

BenchJson Summary(const std::vector<double>& values) {
    BenchJson json;
    json.Number("median", BenchMedian(values));
    json.Numbers("runs", values);
    return json;
}

double Mean(const std::vector<double>& values) {
    double sum = 0;
    for (double value : values)
        sum += value;
    return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

// ---- The configuration every figure uses: protection on, a password, 64 sites
// of 255 bytes.

bool SaveFullConfig(VbConfig& config) {
    std::memset(&config, 0, sizeof config);
    if (!VbGenerateSalt(config.salt, sizeof config.salt) ||
        !VbHashPassword(config.salt, "bench-password", config.hash, sizeof config.hash))
        return false;
    config.hasPassword = 1;
    config.enabled = 1;
    for (int i = 0; i < VbMaxSites; ++i) {
        char* slot = config.sites[i];
        std::snprintf(slot, VbSiteSlotSize, "s%02d", i);
        // Dotted into labels of 63 letters, as a real name would be.
        for (std::size_t j = 3; j < VbSiteSlotSize - 1; ++j)
            slot[j] = (j + 1) % 64 == 0 ? '.' : static_cast<char>('a' + (i + j) % 26);
        slot[VbSiteSlotSize - 1] = '\0';
    }
    config.siteCount = VbMaxSites;
    return VbSaveConfig(&config) == 1;
}

// ---- Enforcement pass beside the bare command runner.

enum class SpawnResult { kDone, kStartFailed, kBroken };

SpawnResult RunSpawnBaseline(const std::wstring& spawn, int adapters, BenchSplit& split,
                             double& cpu) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    VbUniqueHandle readEnd;
    VbUniqueHandle writeEnd;
    if (!CreatePipe(readEnd.Put(), writeEnd.Put(), &inherit, 0)) return SpawnResult::kBroken;
    SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring commandLine = L"\"" + spawn + L"\" " + std::to_wstring(adapters);
    PROCESS_INFORMATION info = {};
    BOOL started = CreateProcessW(spawn.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                  nullptr, nullptr, &startup, &info);
    writeEnd.Reset();
    if (!started) return SpawnResult::kBroken;
    VbUniqueHandle process(info.hProcess);
    VbUniqueHandle thread(info.hThread);
    std::string text;
    char chunk[256];
    DWORD got = 0;
    while (ReadFile(readEnd.Get(), chunk, sizeof chunk, &got, nullptr) && got != 0)
        text.append(chunk, got);
    WaitForSingleObject(process.Get(), INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.Get(), &code);
    if (code == kSpawnStartFailed) return SpawnResult::kStartFailed;
    bool read =
        code == 0 && std::sscanf(text.c_str(), "%lf %lf %lf %lf %lf %lf %lf %zu %lf", &split.wall,
                                 &split.child, &split.before, &split.listingTail, &split.between,
                                 &split.after, &split.exitLag, &split.children, &cpu) == 9;
    if (!read) std::fprintf(stderr, "vb_bench_spawn exited with %lu: %s\n", code, text.c_str());
    return read ? SpawnResult::kDone : SpawnResult::kBroken;
}

struct SplitSeries {
    std::vector<double> wall, child, own, listingTail, rest, exitLag;

    void Add(const BenchSplit& split) {
        wall.push_back(split.wall);
        child.push_back(split.child);
        own.push_back(split.Own());
        listingTail.push_back(split.listingTail);
        rest.push_back(split.Own() - split.listingTail);
        exitLag.push_back(split.exitLag / static_cast<double>(split.children));
    }
    BenchJson Json() const {
        BenchJson json;
        json.Object("wall_ms", Summary(wall))
            .Object("child_ms", Summary(child))
            .Object("own_ms", Summary(own))
            .Object("own_after_listing_ms", Summary(listingTail))
            .Object("own_elsewhere_ms", Summary(rest))
            .Number("exit_to_signal_ms_per_child", BenchMedian(exitLag));
        return json;
    }
};

bool BenchPasses(const std::wstring& spawn, int adapters, int reps, BenchJson& out) {
    BenchSetAdapters(adapters);
    const std::size_t expected = 1 + 4 * static_cast<std::size_t>(adapters);
    SplitSeries pass, base;
    std::vector<double> ownShare, baseShare, ratio, cpu, baseCpu;
    int redone = 0;
    int baseRedone = 0;
    for (int rep = 0; rep < reps;) {
        ClearNetshSimLog();
        int failures = g_startFailures;
        double cpu0 = BenchProcessCpuMs();
        g_recording = true;
        double begin = BenchNowMs();
        int passResult = VbEnforceFromConfig();
        double end = BenchNowMs();
        g_recording = false;
        cpu.push_back(BenchProcessCpuMs() - cpu0);
        BenchSplit split = BenchSplitRun(begin, end, g_clock.Take());
        std::vector<std::string> passLog = ReadNetshSimLog();

        ClearNetshSimLog();
        BenchSplit baseSplit;
        double spawnCpu = 0;
        SpawnResult spawned = RunSpawnBaseline(spawn, adapters, baseSplit, spawnCpu);
        if (spawned == SpawnResult::kBroken) {
            std::fprintf(stderr, "vb_bench_pass: the bare command runner failed\n");
            return false;
        }
        if (g_startFailures != failures || spawned == SpawnResult::kStartFailed) {
            redone += g_startFailures != failures;
            baseRedone += spawned == SpawnResult::kStartFailed;
            if (redone + baseRedone > reps) {
                std::fprintf(stderr, "vb_bench_pass: too many failed CreateProcessW calls\n");
                return false;
            }
            continue;
        }
        // Both sides must have started the very same commands, as many as expected.
        if (passResult != 1 || split.children != expected || passLog.size() != expected ||
            baseSplit.children != expected || (rep == 0 && passLog != ReadNetshSimLog())) {
            std::fprintf(stderr,
                         "vb_bench_pass: %d adapters: the pass returned %d, started %zu children "
                         "and logged %zu; the bare runner started %zu; %zu expected, the same\n",
                         adapters, passResult, split.children, passLog.size(), baseSplit.children,
                         expected);
            return false;
        }
        pass.Add(split);
        base.Add(baseSplit);
        ownShare.push_back(split.Own() / split.child);
        baseShare.push_back(baseSplit.Own() / baseSplit.child);
        ratio.push_back(split.wall / baseSplit.wall);
        baseCpu.push_back(spawnCpu);
        ++rep;
    }
    if (ReadNetshSimState().adapters.back().ipv4 != NetshSimDns::Static({"1.1.1.3", "1.0.0.3"})) {
        std::fprintf(stderr, "vb_bench_pass: the pass did not set the family DNS\n");
        return false;
    }

    out.Integer("adapters", adapters)
        .Integer("children", static_cast<long long>(expected))
        .Integer("runs", reps)
        .Object("pass", pass.Json())
        .Object("own_over_child", Summary(ownShare))
        .Number("process_cpu_ms_mean", Mean(cpu))
        .Number("baseline_process_cpu_ms_mean", Mean(baseCpu))
        .Object("baseline", base.Json())
        .Object("baseline_own_over_child", Summary(baseShare))
        .Object("wall_over_baseline", Summary(ratio))
        .Boolean("same_commands_as_baseline", true)
        .Integer("runs_redone_after_failed_start", redone)
        .Integer("baseline_runs_redone_after_failed_start", baseRedone);

    auto ms = [](const std::vector<double>& values) {
        return BenchFormat("%.1f", BenchMedian(values));
    };
    BenchRow(BenchFormat("%d adapter%s (%zu children), %d runs: wall ms", adapters,
                         adapters == 1 ? "" : "s", expected, reps),
             ms(pass.wall), ms(base.wall), BenchFormat("x%.3f of baseline", BenchMedian(ratio)));
    BenchRow(
        "  in child processes ms", ms(pass.child), ms(base.child),
        BenchFormat("%.1f ms per child", BenchMedian(pass.child) / static_cast<double>(expected)));
    BenchRow("  own time ms (wall - children)", ms(pass.own), ms(base.own),
             BenchFormat("own/child %.4f (baseline %.4f)", BenchMedian(ownShare),
                         BenchMedian(baseShare)));
    BenchRow("    after the listing child ended ms", ms(pass.listingTail), ms(base.listingTail),
             "until its pipe reports closed");
    BenchRow("    everything else ms", ms(pass.rest), ms(base.rest), "");
    BenchRow("  process CPU in the run ms (mean)", BenchFormat("%.1f", Mean(cpu)),
             BenchFormat("%.1f", Mean(baseCpu)), "starting the children included");
    if (redone + baseRedone != 0)
        BenchRow("  runs redone: a CreateProcessW failed", BenchFormat("%d", redone),
                 BenchFormat("%d", baseRedone),
                 BenchFormat("last error %lu in the agent", g_lastStartError));
    return true;
}

// ---- Hosts rewrite beside a plain copy.

// Lines of "0.0.0.0 NAME" up to exactly `size` bytes, CR LF line ends.
std::string Filler(std::size_t size) {
    std::string text;
    text.reserve(size);
    for (int i = 0;; ++i) {
        std::string line = BenchFormat("0.0.0.0 ad-%06d.tracker.example.invalid\r\n", i);
        if (text.size() + line.size() + 64 > size) break;
        text += line;
    }
    // At least 64 bytes are left: one comment line fills them.
    text += '#';
    text.append(size - text.size() - 2, '-');
    text += "\r\n";
    return text;
}

// Reads the file, writes the same bytes to a temporary file beside it, flushes it
// (the agent flushes too, so that a power cut never leaves a short hosts file),
// and renames it over the file: the I/O any safe rewrite of this file must do.
bool PlainCopy(const std::wstring& hosts, const std::wstring& temp) {
    std::size_t size = 0;
    std::unique_ptr<char[]> bytes;
    {
        VbUniqueFile file(CreateFileW(hosts.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER fileSize;
        if (!file || !GetFileSizeEx(file.Get(), &fileSize)) return false;
        size = static_cast<std::size_t>(fileSize.QuadPart);
        bytes.reset(new (std::nothrow) char[size]);
        DWORD got = 0;
        if (!bytes || !ReadFile(file.Get(), bytes.get(), static_cast<DWORD>(size), &got, nullptr) ||
            got != size)
            return false;
    }
    VbUniqueFile file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    bool ok = WriteFile(file.Get(), bytes.get(), static_cast<DWORD>(size), &written, nullptr) &&
              written == size && FlushFileBuffers(file.Get());
    ok = CloseHandle(file.Release()) && ok;
    return ok && MoveFileExW(temp.c_str(), hosts.c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool BenchHosts(const VbConfig& config, int reps, BenchJson& out) {
    const std::wstring hosts = BenchHostsPath();
    const std::wstring temp = hosts + L".vb_bench_tmp";
    HostsRetained none{};
    std::size_t block = NewHostsSize(none, config.sites, config.siteCount);
    BenchWriteText(hosts, Filler(kHostsSize - block));
    // The first rewrite appends the block: from then on the file is 4 MiB and each
    // rewrite replaces the block with the same one.
    if (!VbApplyHostsBlock(config.sites, config.siteCount)) return false;
    std::string before;
    if (!BenchReadFile(hosts, before) || before.size() != kHostsSize) {
        std::fprintf(stderr, "vb_bench_pass: the hosts file is %zu bytes, not %zu\n", before.size(),
                     kHostsSize);
        return false;
    }
    if (!PlainCopy(hosts, temp)) return false;

    std::vector<double> agent, plain, ratio, search, compose;
    for (int rep = 0; rep < reps; ++rep) {
        double begin = BenchNowMs();
        int ok = VbApplyHostsBlock(config.sites, config.siteCount);
        double a = BenchNowMs() - begin;
        begin = BenchNowMs();
        bool copied = PlainCopy(hosts, temp);
        double b = BenchNowMs() - begin;
        if (!ok || !copied) return false;
        agent.push_back(a);
        plain.push_back(b);
        ratio.push_back(a / b);

        // The two steps of the rewrite that the plain copy does not have, alone.
        begin = BenchNowMs();
        HostsRetained retained = RemoveFirstBlock(before);
        search.push_back(BenchNowMs() - begin);
        begin = BenchNowMs();
        std::size_t size = NewHostsSize(retained, config.sites, config.siteCount);
        std::unique_ptr<char[]> updated(new (std::nothrow) char[size + 1]);
        if (!updated || WriteNewHosts(retained, config.sites, config.siteCount,
                                      {updated.get(), size}) != kHostsSize)
            return false;
        compose.push_back(BenchNowMs() - begin);
    }
    std::string after;
    if (!BenchReadFile(hosts, after) || after != before) {
        std::fprintf(stderr, "vb_bench_pass: the hosts file changed under the benchmark\n");
        return false;
    }
    out.Integer("file_bytes", static_cast<long long>(kHostsSize))
        .Integer("block_bytes", static_cast<long long>(block))
        .Integer("runs", reps)
        .Object("rewrite_ms", Summary(agent))
        .Object("baseline_copy_ms", Summary(plain))
        .Object("ratio", Summary(ratio))
        .Object("remove_first_block_ms", Summary(search))
        .Object("new_buffer_and_write_new_hosts_ms", Summary(compose));
    BenchRow(BenchFormat("hosts rewrite, 4 MiB, 64 x 255 B, %d runs: ms", reps),
             BenchFormat("%.2f", BenchMedian(agent)), BenchFormat("%.2f", BenchMedian(plain)),
             BenchFormat("ratio %.3f", BenchMedian(ratio)));
    BenchRow("  of which: RemoveFirstBlock over 4 MiB ms", BenchFormat("%.2f", BenchMedian(search)),
             "", "measured alone");
    BenchRow("  of which: new 4 MiB buffer + WriteNewHosts ms",
             BenchFormat("%.2f", BenchMedian(compose)), "", "measured alone");
    return true;
}

// ---- config.dat load beside a bare read.

bool RawRead(const std::wstring& path) {
    VbUniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    char buffer[20000];
    DWORD got = 0;
    return ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr) && got != 0;
}

bool BenchConfig(int batches, BenchJson& out) {
    wchar_t path[MAX_PATH];
    if (!VbGetConfigPath(path, MAX_PATH)) return false;
    static VbConfig loaded;
    if (!VbLoadConfig(&loaded) || loaded.siteCount != VbMaxSites) {
        std::fprintf(stderr, "vb_bench_pass: config.dat does not load with 64 sites\n");
        return false;
    }
    std::vector<double> load, raw, ratio, folder;
    for (int batch = 0; batch < batches; ++batch) {
        double begin = BenchNowMs();
        int ok = 1;
        for (int i = 0; i < kConfigLoadsPerBatch; ++i)
            ok &= VbLoadConfig(&loaded);
        double a = (BenchNowMs() - begin) / kConfigLoadsPerBatch;
        begin = BenchNowMs();
        bool read = true;
        for (int i = 0; i < kConfigLoadsPerBatch; ++i)
            read = RawRead(path) && read;
        double b = (BenchNowMs() - begin) / kConfigLoadsPerBatch;
        // The platform call that a load makes twice (the file's path, the folder's).
        begin = BenchNowMs();
        wchar_t data[MAX_PATH];
        for (int i = 0; i < kConfigLoadsPerBatch; ++i)
            SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, data);
        double c = (BenchNowMs() - begin) / kConfigLoadsPerBatch;
        if (!ok || !read) return false;
        load.push_back(a * 1000.0);
        raw.push_back(b * 1000.0);
        ratio.push_back(a / b);
        folder.push_back(c * 1000.0);
    }
    std::string bytes;
    BenchReadFile(path, bytes);
    out.Integer("file_bytes", static_cast<long long>(bytes.size()))
        .Integer("loads_per_batch", kConfigLoadsPerBatch)
        .Integer("batches", batches)
        .Object("load_us", Summary(load))
        .Object("baseline_read_us", Summary(raw))
        .Object("ratio", Summary(ratio))
        .Object("shgetfolderpath_us", Summary(folder));
    BenchRow(BenchFormat("config.dat load, 64 sites (%zu B): us per load", bytes.size()),
             BenchFormat("%.1f", BenchMedian(load)), BenchFormat("%.1f", BenchMedian(raw)),
             BenchFormat("ratio %.2f (baseline: open + read + close)", BenchMedian(ratio)));
    BenchRow("  SHGetFolderPathW(COMMON_APPDATA), 2 a load: us",
             BenchFormat("%.1f", BenchMedian(folder)), "", "measured alone");
    return true;
}

std::vector<int> ParseReps(const char* text) {
    std::vector<int> reps;
    for (const char* p = text; *p != '\0';) {
        reps.push_back(std::atoi(p));
        const char* comma = std::strchr(p, ',');
        if (comma == nullptr) break;
        p = comma + 1;
    }
    return reps;
}

}  // namespace

int main(int argc, char** argv) {
    if (!BenchIsSandbox()) return BenchRefuse("vb_bench_pass");
    std::wstring spawn;
    std::wstring json;
    // N = 16 starts 130 children a run: fewer runs, each already an average of many.
    std::vector<int> reps = {7, 4, 3};
    int hostsReps = 21;
    int configBatches = 15;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string_view option = argv[i];
        if (option == "--spawn") spawn = BenchWiden(argv[i + 1]);
        if (option == "--json") json = BenchWiden(argv[i + 1]);
        if (option == "--reps") reps = ParseReps(argv[i + 1]);
        if (option == "--hosts-reps") hostsReps = std::atoi(argv[i + 1]);
        if (option == "--config-batches") configBatches = std::atoi(argv[i + 1]);
    }
    if (spawn.empty() || reps.size() != std::size(kAdapterCounts)) {
        std::fprintf(stderr, "usage: vb_bench_pass --spawn PATH [--json PATH] [--reps A,B,C]\n");
        return 2;
    }
    if (!WrapCreateProcess()) {
        std::fprintf(stderr, "vb_bench_pass: CreateProcessW is not imported by this program\n");
        return 1;
    }

    static VbConfig config;
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies");
    BenchWriteSmallHosts();
    if (!SaveFullConfig(config)) {
        std::fprintf(stderr, "vb_bench_pass: cannot write config.dat\n");
        return 1;
    }

    BenchHeading(
        "Enforcement pass (protection on, 64 sites), in-process; baseline: "
        "vb_bench_spawn.exe, the same netsh commands back to back");
    // One untimed pass warms the file cache, the registry and the simulator.
    BenchSetAdapters(1);
    VbEnforceFromConfig();
    BenchJson passes;
    for (std::size_t i = 0; i < std::size(kAdapterCounts); ++i) {
        BenchJson one;
        if (!BenchPasses(spawn, kAdapterCounts[i], reps[i], one)) return 1;
        passes.Object(BenchFormat("adapters_%d", kAdapterCounts[i]), one);
    }

    BenchHeading("Hosts rewrite; baseline: read, copy to a temporary file, flush, MoveFileExW");
    BenchJson hosts;
    if (!BenchHosts(config, hostsReps, hosts)) {
        std::fprintf(stderr, "vb_bench_pass: the hosts rewrite failed\n");
        return 1;
    }
    BenchWriteSmallHosts();

    BenchHeading("Configuration load");
    BenchJson load;
    if (!BenchConfig(configBatches, load)) return 1;

    BenchJson all;
    all.Text("child_time_method",
             "for each child, wall time from just before CreateProcessW to the moment its process "
             "handle is signalled (seen by a thread-pool wait), summed; own = pass wall time - "
             "child time")
        .Object("enforcement_pass", passes)
        .Object("hosts_rewrite", hosts)
        .Object("config_load", load);
    if (!json.empty() && !BenchWriteText(json, all.Str() + "\n")) {
        std::fprintf(stderr, "vb_bench_pass: cannot write the JSON file\n");
        return 1;
    }
    return 0;
}
