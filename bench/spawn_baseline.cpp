// vb_bench_spawn.exe N: the floor under one enforcement pass. Runs the netsh
// commands of a pass over N adapters back to back, the way the least a program
// can do it: the listing read through a pipe with blocking reads until the pipe
// breaks, every other command started and waited for. Nothing else happens in
// between: no parsing, no hosts file, no registry.
//
// Prints one line of milliseconds and a count, "WALL CHILD BEFORE LISTING_TAIL
// BETWEEN AFTER EXIT_LAG COUNT CPU" (see BenchSplit), the children timed as in
// vb_bench_pass.exe (BenchChildClock); CPU is this process's processor time
// over the run. Exits with 3, printing nothing on standard output, when a
// CreateProcessW fails (under Wine one now and then does).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "common/vb_handle.h"

namespace {

constexpr int kStartFailed = 3;
BenchChildClock g_clock;

bool Start(const std::wstring& program, std::wstring commandLine, HANDLE output,
           VbUniqueHandle& process) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    if (output != nullptr) {
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    PROCESS_INFORMATION info = {};
    g_clock.Starting();
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                        output != nullptr ? TRUE : FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
        std::fprintf(stderr, "vb_bench_spawn: CreateProcessW failed with %lu: %ls\n",
                     GetLastError(), commandLine.c_str());
        return false;
    }
    g_clock.Started(info.hProcess);
    process.Reset(info.hProcess);
    CloseHandle(info.hThread);
    return true;
}

bool RunListing(const std::wstring& program, const std::wstring& commandLine) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    VbUniqueHandle readEnd;
    VbUniqueHandle writeEnd;
    if (!CreatePipe(readEnd.Put(), writeEnd.Put(), &inherit, 0)) return false;
    SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    VbUniqueHandle process;
    bool started = Start(program, commandLine, writeEnd.Get(), process);
    writeEnd.Reset();
    if (!started) return false;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(readEnd.Get(), chunk, sizeof chunk, &got, nullptr) && got != 0) {
    }
    return WaitForSingleObject(process.Get(), INFINITE) == WAIT_OBJECT_0;
}

}  // namespace

int main(int argc, char** argv) {
    if (!BenchIsSandbox()) return BenchRefuse("vb_bench_spawn");
    int adapters = argc > 1 ? std::atoi(argv[1]) : 1;
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring netsh = std::wstring(system) + L"\\netsh.exe";
    std::vector<std::wstring> commands = BenchPassCommands(adapters);

    double cpu0 = BenchProcessCpuMs();
    double begin = BenchNowMs();
    if (!RunListing(netsh, commands[0])) return kStartFailed;
    for (std::size_t i = 1; i < commands.size(); ++i) {
        VbUniqueHandle process;
        if (!Start(netsh, commands[i], nullptr, process)) return kStartFailed;
        WaitForSingleObject(process.Get(), INFINITE);
    }
    double end = BenchNowMs();
    double cpu = BenchProcessCpuMs() - cpu0;

    BenchSplit split = BenchSplitRun(begin, end, g_clock.Take());
    std::printf("%.3f %.3f %.3f %.3f %.3f %.3f %.3f %zu %.3f\n", split.wall, split.child,
                split.before, split.listingTail, split.between, split.after, split.exitLag,
                split.children, cpu);
    return 0;
}
