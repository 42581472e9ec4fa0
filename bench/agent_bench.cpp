// vb_bench_agent.exe AGENT TRAY IDLE_SECONDS: the real Vellumbrook.exe, driven
// from this process through its windows' messages, beside vb_bench_tray.exe (the
// least tray program). Measured once the agent is up, after 100 enforcement
// passes, after 50 rounds through its windows, and over IDLE_SECONDS of idling;
// then the same program as the service.
//
// Where the figures come from, under Wine 8:
//   - private memory (commit charge) and processor time: SystemProcessInformation,
//     which Wine fills from the Unix process's /proc/PID/status (RssAnon + VmSwap)
//     and /proc/PID/stat. It leaves PrivateUsage at 0, and GetProcessTimes of
//     another process reports no processor time.
//   - handles: the process's entries in SystemHandleInformation. GetProcessHandleCount
//     answers 0; SystemProcessInformation's HandleCount is the handle table's size.
//   - GDI objects: the used, non-stock entries of the process's GDI handle table,
//     which Wine keeps where Windows does (PEB.GdiSharedHandleTable).
//     GetGuiResources is not implemented (0, ERROR_CALL_NOT_IMPLEMENTED).
#include <windows.h>
#include <winternl.h>

#include <array>

#include "bench/bench.h"

namespace {

// As agent/main.cpp and ui/ui_internal.h define them.
constexpr UINT_PTR kEnforceTimer = 3001;
constexpr WPARAM kSettingsCommand = 2001, kQuitCommand = 2002;
constexpr int kPasswordBox = 4001, kConfirmBox = 4002, kOk = 4010, kCancel = 4011,
              kChangePassword = 4014;
VbConfig g_config;

template <class Done>
bool WaitUntil(Done done) {
    for (double end = NowMs() + 30000; !done(); Sleep(10))
        if (NowMs() > end) return false;
    return true;
}

bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, 60000, &result) != 0;
}

// The shown window of that class (the agent shows a window once its controls
// exist), with the password typed into `boxes` of its boxes.
HWND Await(const wchar_t* windowClass, int boxes = 0) {
    HWND window = nullptr;
    bool ready = WaitUntil(
        [&] { return (window = FindWindowW(windowClass, nullptr)) && IsWindowVisible(window); });
    for (int id : {kPasswordBox, kConfirmBox})
        ready = ready && (boxes-- <= 0 || Send(GetDlgItem(window, id), WM_SETTEXT, 0,
                                               reinterpret_cast<LPARAM>(L"bench-password")));
    if (!ready) std::fprintf(stderr, "vb_bench_agent: no %ls window to use\n", windowClass);
    return ready ? window : nullptr;
}

// Posts a click on that button; true once the window is gone.
bool Close(HWND window, int button) {
    if (window == nullptr) return false;
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, button)));
    return WaitUntil([&] { return !IsWindow(window); });
}

// One round through every window, and windows of the same kinds in the baseline.
// With no password in config.dat the settings open on the set-password window; a
// password there opens the settings; "Changer le mot de passe" asks for it
// (enter-password) and opens the set-password window again, cancelled; "Fermer".
bool WindowRound(HWND tray, HWND baseline) {
    PostMessageW(tray, WM_COMMAND, kSettingsCommand, 0);
    if (!Send(baseline, WM_APP + 2, 0, 0) || !Close(Await(L"VBSetPasswordWnd", 2), kOk))
        return false;
    HWND settings = Await(L"VBSettingsWnd");
    if (settings == nullptr) return false;
    PostMessageW(settings, WM_COMMAND, kChangePassword, 0);
    // No password again, so that every round opens the same windows. A timer pass
    // may hold config.dat open for a moment, and then it cannot be replaced.
    return Close(Await(L"VBEnterPasswordWnd", 1), kOk) &&
           Close(Await(L"VBSetPasswordWnd"), kCancel) && Close(settings, kCancel) &&
           WaitUntil([] { return VbSaveConfig(&g_config) == 1; });
}

struct Program {
    HANDLE process = nullptr;
    DWORD id = 0;
    HWND window = nullptr;
};

// Private memory in KiB, handles, GDI objects, processor time in ms.
using Usage = std::array<double, 4>;

std::vector<char> SystemInformation(SYSTEM_INFORMATION_CLASS infoClass) {
    std::vector<char> buffer(4 << 20);  // far more than a prefix's processes and handles take
    if (NtQuerySystemInformation(infoClass, buffer.data(), buffer.size(), nullptr) != 0)
        buffer.clear();
    return buffer;
}

double GdiObjects(HANDLE process) {
    // 0x10000 entries of 24 bytes: object, owner (4 bytes), unique (2 bytes, bit 7
    // marks a stock object), type (0: a free entry), flags, user pointer.
    static std::vector<unsigned char> table(0x10000 * 24);
    PROCESS_BASIC_INFORMATION basic = {};
    void* address = nullptr;
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic,
                                  nullptr) != 0 ||
        !ReadProcessMemory(process, reinterpret_cast<BYTE*>(basic.PebBaseAddress) + 0xF8, &address,
                           sizeof address, nullptr) ||  // PEB.GdiSharedHandleTable on x64
        !ReadProcessMemory(process, address, table.data(), table.size(), nullptr))
        return NAN;
    double used = 0;
    for (std::size_t entry = 0; entry < table.size(); entry += 24)
        used += table[entry + 14] != 0 && (table[entry + 12] & 0x80) == 0;
    return used;
}

Usage Measure(const Program& program) {
    Usage usage = {NAN, 0, GdiObjects(program.process), NAN};
    std::vector<char> processes = SystemInformation(SystemProcessInformation);
    for (std::size_t at = 0; at < processes.size();) {
        auto* entry = reinterpret_cast<SYSTEM_PROCESS_INFORMATION*>(processes.data() + at);
        if (HandleToUlong(entry->UniqueProcessId) == program.id) {
            usage[0] = static_cast<double>(entry->VirtualMemoryCounters.PagefileUsage) / 1024;
            usage[3] =
                static_cast<double>(entry->UserTime.QuadPart + entry->KernelTime.QuadPart) / 10000;
        }
        at = entry->NextEntryOffset == 0 ? processes.size() : at + entry->NextEntryOffset;
    }
    std::vector<char> handles = SystemInformation(SystemHandleInformation);
    auto* list = reinterpret_cast<SYSTEM_HANDLE_INFORMATION*>(handles.data());
    for (ULONG i = 0; !handles.empty() && i < list->Count; ++i)
        usage[1] += list->Handle[i].OwnerPid == program.id;
    return usage;
}

bool Launch(const wchar_t* path, const wchar_t* windowClass, Program& program) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(path, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
        return false;
    CloseHandle(info.hThread);
    program.process = info.hProcess;
    program.id = info.dwProcessId;
    return WaitUntil(
        [&] { return (program.window = FindWindowW(windowClass, nullptr)) != nullptr; });
}

bool Run(const wchar_t* agentPath, const wchar_t* trayPath, int idleSeconds, Program& agent,
         Program& tray) {
    Usage used[3][2];
    auto failed = [](const char* what) {
        std::fprintf(stderr, "vb_bench_agent: %s failed\n", what);
        return false;
    };
    // A first start: the agent asks for a password at once; the parent cancels.
    // WM_NULL comes back once the agent is in its message loop again.
    if (!Launch(trayPath, L"VBBenchTrayWnd", tray) || !Launch(agentPath, L"VBTrayWnd", agent) ||
        !Close(Await(L"VBSetPasswordWnd"), kCancel) || !Send(agent.window, WM_NULL, 0, 0))
        return failed("starting");
    used[0][0] = Measure(agent), used[0][1] = Measure(tray);
    // Each pass runs inside the sent WM_TIMER, as the agent's timer runs it.
    for (int i = 0; i < 100; ++i)
        if (!Send(agent.window, WM_TIMER, kEnforceTimer, 0)) return failed("a pass");
    used[1][0] = Measure(agent), used[1][1] = Measure(tray);
    for (int i = 0; i < 50; ++i)
        if (!WindowRound(agent.window, tray.window)) return failed("a window round");
    if (!Send(agent.window, WM_NULL, 0, 0)) return failed("idling");
    used[2][0] = Measure(agent), used[2][1] = Measure(tray);

    // Idle: nothing but the agent's own 60-second timer; a pass running at the end counts whole.
    double begin = NowMs();
    Sleep(static_cast<DWORD>(idleSeconds) * 1000);
    if (!Send(agent.window, WM_NULL, 0, 0)) return failed("idling");
    double seconds = (NowMs() - begin) / 1000;
    double agentCpu = Measure(agent)[3] - used[2][0][3];
    double trayCpu = Measure(tray)[3] - used[2][1][3];

    Heading(
        "Idle agent: Vellumbrook.exe; baseline: vb_bench_tray.exe, a hidden window and a tray "
        "icon (and windows of the same kinds in the rounds)");
    const char* figures[] = {"private memory KiB", "handles", "GDI objects"};
    const char* points[] = {"at start", "after 100 passes", "after 50 window rounds"};
    char what[64];
    for (int figure = 0; figure < 3; ++figure)
        for (int point = 0; point < 3; ++point) {
            std::snprintf(what, sizeof what, "%s %s", figures[figure], points[point]);
            Row(what, 0, used[point][0][figure], used[point][1][figure], "");
        }
    Row("processor time, 5 idle minutes: ms", 0, agentCpu * 300 / seconds, trayCpu * 300 / seconds,
        "%.0f ms (baseline %.0f) in %.0f s, scaled x%.2f; /proc counts 10 ms ticks", agentCpu,
        trayCpu, seconds, 300 / seconds);
    // Quitting asks for no password: none is set.
    PostMessageW(agent.window, WM_COMMAND, kQuitCommand, 0);
    return WaitForSingleObject(agent.process, 15000) == WAIT_OBJECT_0 || failed("quitting");
}

// The service, installed from this build's agent: its idle process beside the
// same baseline, and the time from a simulated notification (PARAMCHANGE, which
// the IP Helper notifications set off alike) to the end of the pass it starts:
// the pass's last step writes the Firefox policy deleted before.
bool RunService(const wchar_t* agentPath, const Program& tray, int idleSeconds) {
    const wchar_t kFirefox[] = L"SOFTWARE\\Policies\\Mozilla\\Firefox\\DNSOverHTTPS";
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kFirefox, L"Locked");  // so that its first pass shows
    std::wstring line = std::wstring(L"\"") + agentPath + L"\" --install-service";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    DWORD installed = 1;
    if (CreateProcessW(agentPath, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &info)) {
        WaitForSingleObject(info.hProcess, 60000);
        GetExitCodeProcess(info.hProcess, &installed);
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, L"Vellumbrook", SERVICE_ALL_ACCESS);
    SERVICE_STATUS_PROCESS status = {};
    DWORD size = 0;
    Program process;
    bool ok = installed == 0 &&
              QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                   reinterpret_cast<BYTE*>(&status), sizeof status, &size) &&
              (process.process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, status.dwProcessId));
    process.id = status.dwProcessId;
    auto passed = [&] {
        return RegGetValueW(HKEY_LOCAL_MACHINE, kFirefox, L"Locked", RRF_RT_REG_DWORD, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS;
    };
    if (ok && WaitUntil(passed)) {
        Sleep(3500);  // past the echoes of its first pass
        Usage start = Measure(process), base = Measure(tray);
        Heading(
            "Idle service: Vellumbrook.exe --service (LocalSystem); baseline: vb_bench_tray.exe");
        Row("private memory KiB at start", 0, start[0], base[0], "");
        Row("handles at start", 0, start[1], base[1], "");
        std::vector<double> notified;
        for (int round = 0; ok && round < 5; ++round) {
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kFirefox, L"Locked");
            SERVICE_STATUS ignored;
            double sent = NowMs();
            ok =
                ControlService(service, SERVICE_CONTROL_PARAMCHANGE, &ignored) && WaitUntil(passed);
            notified.push_back(NowMs() - sent);
            Sleep(3500);
        }
        if (ok)
            Row("notification to the end of its pass: ms", 0, Median(notified), NAN,
                "median of 5; the first 1000 ms wait for the notifications to settle");
        start = Measure(process), base = Measure(tray);
        double begin = NowMs();
        Sleep(static_cast<DWORD>(idleSeconds) * 1000);
        double seconds = (NowMs() - begin) / 1000;
        Usage end = Measure(process), baseEnd = Measure(tray);
        Row("processor time, 5 idle minutes: ms", 0, (end[3] - start[3]) * 300 / seconds,
            (baseEnd[3] - base[3]) * 300 / seconds, "in %.0f s, scaled x%.2f; its passes included",
            seconds, 300 / seconds);
        Row("private memory KiB after idling", 0, end[0], baseEnd[0], "");
    }
    SERVICE_STATUS ignored;
    ControlService(service, SERVICE_CONTROL_STOP, &ignored);
    if (process.process != nullptr) WaitForSingleObject(process.process, 30000);
    DeleteService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return ok || (std::fprintf(stderr, "vb_bench_agent: the service failed\n"), false);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 || !InSandbox() || !SetUpMachine(g_config, 1)) {
        std::fprintf(stderr,
                     "usage, in the prefix of tools/bench.sh: "
                     "vb_bench_agent AGENT TRAY IDLE_SECONDS\n");
        return 2;
    }
    Program agent, tray;
    bool ok = Run(argv[1], argv[2], _wtoi(argv[3]), agent, tray) &&
              RunService(argv[1], tray, _wtoi(argv[3]));
    if (tray.window != nullptr) PostMessageW(tray.window, WM_CLOSE, 0, 0);
    // Whatever happened, nothing this program started outlives it.
    for (Program* program : {&agent, &tray})
        if (program->process != nullptr && WaitForSingleObject(program->process, 10000) != 0)
            TerminateProcess(program->process, 1);
    return ok ? 0 : 1;
}
