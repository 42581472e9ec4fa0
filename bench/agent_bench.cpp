// vb_bench_agent.exe: the real agent in the prefix, watched and driven from this
// process as a parent would use it, beside vb_bench_tray.exe (the least tray
// program) started at the same time.
//
//   1. Both are started; config.dat already holds a password, so no first-run
//      dialog opens. Measured once the agent's first pass is over.
//   2. 100 passes: WM_TIMER with the enforcement timer's id is posted to the tray
//      window, and each pass is waited for (measured after 50 and after 100).
//   3. 50 rounds through every window (measured after 25 and after 50): a
//      double-click on the icon opens the password dialog, the password opens
//      the settings, "Changer le mot de passe" asks for it again and opens the
//      new-password dialog, which is cancelled, then "Fermer"; the icon's menu,
//      "Paramètres…", and the password dialog closed by its close box. The
//      baseline opens and closes windows of the same kinds meanwhile, so that
//      what the platform keeps per window is seen apart from the agent.
//   4. Idle: processor time over a window of whole minutes of the agent's timer
//      (60 s unless asked otherwise), scaled to 5 minutes when shorter.
//   5. The agent is quit through "Quitter" and its password; the sizes of the
//      two programs' files.
//
// How each figure is read, and what Wine 8 does not provide:
//   - private bytes: GetProcessMemoryInfo's PrivateUsage; Wine leaves it at 0 and
//     reports PagefileUsage, which it takes from the Unix process's anonymous
//     resident memory (RssAnon + VmSwap), so that is used then. Also the
//     committed private memory from a VirtualQueryEx walk of the address space.
//   - handles: GetProcessHandleCount; Wine answers 0, so then the process's
//     entries in NtQuerySystemInformation(SystemHandleInformation).
//   - GDI and USER objects: GetGuiResources; Wine does not implement it
//     (0, ERROR_CALL_NOT_IMPLEMENTED). GDI objects are then counted in the
//     process's own GDI handle table, which Wine keeps where Windows does (the
//     PEB's GdiSharedHandleTable): used entries that are not stock objects. USER
//     objects are then the process's windows (top-level, hidden, message-only and
//     children); menus and icons cannot be counted from outside under Wine.
//   - processor time: GetProcessTimes of another process reports no processor
//     time under Wine, so the sum of GetThreadTimes over the process's threads.
//
//   vb_bench_agent.exe --agent PATH --tray PATH [--json PATH] [--idle-seconds N]
//                      [--passes N] [--rounds N]
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "common/vb_handle.h"
#include "config/config.h"
#include "password/password.h"
#include "tests/fixtures/netsh_state.h"
#include "tests/support/ui_driver.h"

namespace {

// As agent/main.cpp and ui/ui_internal.h define them.
constexpr UINT WM_TRAYICON = WM_APP + 1;
// vb_bench_tray.exe's request to open and close one window of a kind (0 to 3).
constexpr UINT WM_OPEN_WINDOW = WM_APP + 2;
constexpr WPARAM IDT_ENFORCE = 3001;
constexpr WPARAM IDM_QUIT = 2002;
constexpr int IDC_PASSWORD = 4001;
constexpr int IDC_OK = 4010;
constexpr int IDC_CANCEL = 4011;
constexpr int IDC_CHANGEPW = 4014;
constexpr char kPassword[] = "bench-password";
constexpr wchar_t kPasswordW[] = L"bench-password";
constexpr DWORD kPassTimeoutMs = 60000;
constexpr int kListingWaitMs = 15000;

// ---- The two programs.

struct Program {
    const char* name = "";
    std::wstring path;
    VbUniqueHandle process;
    DWORD id = 0;
    HWND window = nullptr;
};

struct WindowSearch {
    const wchar_t* className;
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
    auto& search = *reinterpret_cast<WindowSearch*>(param);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    wchar_t name[64];
    if (processId == search.processId && GetClassNameW(window, name, 64) > 0 &&
        lstrcmpiW(name, search.className) == 0) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

// A top-level window of that class and process, hidden ones included.
HWND FindProcessWindow(const wchar_t* className, DWORD processId) {
    WindowSearch search = {className, processId, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool Launch(Program& program, const wchar_t* windowClass) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::wstring commandLine = L"\"" + program.path + L"\"";
    if (!CreateProcessW(program.path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &info)) {
        std::fprintf(stderr, "vb_bench_agent: cannot start %s (error %lu)\n", program.name,
                     GetLastError());
        return false;
    }
    program.process.Reset(info.hProcess);
    CloseHandle(info.hThread);
    program.id = info.dwProcessId;
    bool found = ui_driver::WaitUntil(
        [&] { return (program.window = FindProcessWindow(windowClass, program.id)) != nullptr; },
        30000);
    // Ready once its thread waits for input with nothing pending: for the agent,
    // after the pass it runs when its window is created.
    if (!found || WaitForInputIdle(program.process.Get(), 30000) != 0) {
        std::fprintf(stderr, "vb_bench_agent: %s did not come up\n", program.name);
        return false;
    }
    return true;
}

// Quits as a parent would: "Quitter" and the password. A program that does not
// end in time is ended through the handle this program holds.
bool QuitAgent(Program& agent) {
    using namespace ui_driver;
    PostMessageW(agent.window, WM_COMMAND, IDM_QUIT, 0);
    HWND enter = WaitForWindow(L"VBEnterPasswordWnd", nullptr, agent.id);
    bool asked = enter != nullptr && TypeInto(Control(enter, IDC_PASSWORD), kPasswordW) &&
                 Press(enter, IDC_OK);
    bool ended = asked && WaitForSingleObject(agent.process.Get(), 15000) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(agent.process.Get(), 1);
    WaitForSingleObject(agent.process.Get(), 15000);
    return ended;
}

void EndBaseline(Program& tray) {
    if (tray.window != nullptr) PostMessageW(tray.window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(tray.process.Get(), 10000) != WAIT_OBJECT_0)
        TerminateProcess(tray.process.Get(), 1);
    WaitForSingleObject(tray.process.Get(), 10000);
}

// ---- What a program holds.

struct Usage {
    double privateKiB = 0;
    const char* privateMethod = "";
    double committedPrivateKiB = 0;
    double workingSetKiB = 0;
    long handles = 0;
    const char* handleMethod = "";
    long gdi = 0;
    const char* gdiMethod = "";
    long user = 0;
    const char* userMethod = "";
};

using QueryProcessFn = NTSTATUS(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
using QuerySystemFn = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);

template <class Fn>
Fn NtFunction(const char* name) {
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

double CommittedPrivateKiB(HANDLE process) {
    double total = 0;
    MEMORY_BASIC_INFORMATION region;
    auto* address = static_cast<BYTE*>(nullptr);
    while (VirtualQueryEx(process, address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += static_cast<double>(region.RegionSize);
        BYTE* next = static_cast<BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= address) break;
        address = next;
    }
    return total / 1024.0;
}

// SystemHandleInformation (16): one entry per open handle of every process.
struct SystemHandle {
    ULONG processId;
    UCHAR objectType;
    UCHAR flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
};

long SystemHandleCount(DWORD processId) {
    auto query = NtFunction<QuerySystemFn>("NtQuerySystemInformation");
    if (query == nullptr) return -1;
    std::vector<char> buffer(1 << 20);
    ULONG length = 0;
    NTSTATUS status;
    while ((status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &length)) ==
           static_cast<NTSTATUS>(0xC0000004L))  // STATUS_INFO_LENGTH_MISMATCH
        buffer.resize(buffer.size() * 2);
    if (status != 0) return -1;
    ULONG count = *reinterpret_cast<ULONG*>(buffer.data());
    auto* entries = reinterpret_cast<SystemHandle*>(buffer.data() + sizeof(ULONG_PTR));
    long mine = 0;
    for (ULONG i = 0; i < count; ++i)
        mine += entries[i].processId == processId;
    return mine;
}

// One entry of the GDI handle table that the PEB points to (24 bytes on x64).
struct GdiEntry {
    std::uint64_t object;
    std::uint32_t owner;
    std::uint16_t unique;  // low byte: 7 bits of type, then the stock-object bit
    std::uint8_t type;     // 0: free entry
    std::uint8_t flags;
    std::uint64_t user;
};
static_assert(sizeof(GdiEntry) == 24);
constexpr std::size_t kGdiEntries = 0x10000;
constexpr std::size_t kPebGdiTable = 0xF8;  // PEB.GdiSharedHandleTable on x64

long GdiTableCount(HANDLE process) {
    auto query = NtFunction<QueryProcessFn>("NtQueryInformationProcess");
    PROCESS_BASIC_INFORMATION basic = {};
    ULONG length = 0;
    if (query == nullptr || query(process, 0, &basic, sizeof basic, &length) != 0) return -1;
    std::uint64_t table = 0;
    SIZE_T got = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<BYTE*>(basic.PebBaseAddress) + kPebGdiTable,
                           &table, sizeof table, &got) ||
        table == 0)
        return -1;
    std::vector<GdiEntry> entries(kGdiEntries);
    if (!ReadProcessMemory(process, reinterpret_cast<void*>(table), entries.data(),
                           entries.size() * sizeof(GdiEntry), &got))
        return -1;
    long used = 0;
    for (const GdiEntry& entry : entries)
        used += entry.type != 0 && (entry.unique & 0x80) == 0;
    return used;
}

struct WindowCount {
    DWORD processId;
    long count;
};

BOOL CALLBACK CountChild(HWND, LPARAM param) {
    ++reinterpret_cast<WindowCount*>(param)->count;
    return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND window, LPARAM param) {
    auto& count = *reinterpret_cast<WindowCount*>(param);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != count.processId) return TRUE;
    ++count.count;
    EnumChildWindows(window, CountChild, param);  // every descendant
    return TRUE;
}

long WindowsOf(DWORD processId) {
    WindowCount count = {processId, 0};
    EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&count));
    for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); window != nullptr;
         window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr))
        CountTopLevel(window, reinterpret_cast<LPARAM>(&count));
    return count.count;
}

Usage Measure(const Program& program) {
    Usage usage;
    HANDLE process = program.process.Get();
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof memory)) {
        usage.workingSetKiB = static_cast<double>(memory.WorkingSetSize) / 1024.0;
        usage.privateKiB = static_cast<double>(memory.PrivateUsage) / 1024.0;
        usage.privateMethod = "PrivateUsage";
        if (memory.PrivateUsage == 0) {
            usage.privateKiB = static_cast<double>(memory.PagefileUsage) / 1024.0;
            usage.privateMethod = "PagefileUsage (Wine: RssAnon + VmSwap)";
        }
    }
    usage.committedPrivateKiB = CommittedPrivateKiB(process);

    DWORD handles = 0;
    if (GetProcessHandleCount(process, &handles) && handles != 0) {
        usage.handles = static_cast<long>(handles);
        usage.handleMethod = "GetProcessHandleCount";
    } else {
        usage.handles = SystemHandleCount(program.id);
        usage.handleMethod = "system handle table";
    }

    SetLastError(0);
    DWORD gdi = GetGuiResources(process, GR_GDIOBJECTS);
    DWORD user = GetGuiResources(process, GR_USEROBJECTS);
    if (gdi != 0 || GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) {
        usage.gdi = static_cast<long>(gdi);
        usage.user = static_cast<long>(user);
        usage.gdiMethod = usage.userMethod = "GetGuiResources";
    } else {
        usage.gdi = GdiTableCount(process);
        usage.gdiMethod = "GDI handle table, non-stock entries";
        usage.user = WindowsOf(program.id);
        usage.userMethod = "windows only";
    }
    return usage;
}

BenchJson UsageJson(const Usage& usage) {
    BenchJson json;
    json.Number("private_kib", usage.privateKiB)
        .Text("private_method", usage.privateMethod)
        .Number("committed_private_kib", usage.committedPrivateKiB)
        .Number("working_set_kib", usage.workingSetKiB)
        .Integer("handles", usage.handles)
        .Text("handles_method", usage.handleMethod)
        .Integer("gdi_objects", usage.gdi)
        .Text("gdi_method", usage.gdiMethod)
        .Integer("user_objects", usage.user)
        .Text("user_method", usage.userMethod);
    return json;
}

double ThreadCpuMs(DWORD processId) {
    VbUniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return -1;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    double total = 0;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more;
         more = Thread32Next(snapshot.Get(), &entry)) {
        if (entry.th32OwnerProcessID != processId) continue;
        VbUniqueHandle thread(
            OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID));
        FILETIME created, exited, kernel, user;
        if (thread && GetThreadTimes(thread.Get(), &created, &exited, &kernel, &user))
            total += static_cast<double>(BenchTicks(kernel) + BenchTicks(user)) / 10000.0;
    }
    return total;
}

double ProcessCpuMs(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
    return static_cast<double>(BenchTicks(kernel) + BenchTicks(user)) / 10000.0;
}

// ---- Passes.

int ListingCount() {
    int count = 0;
    for (const std::string& line : ReadNetshSimLog())
        count += line.find("show interfaces") != std::string::npos;
    return count;
}

// Returns once the agent is back in its message loop: a sent message is taken
// only there (or while the agent itself waits in SendMessage, at a pass's end).
bool WaitIdle(HWND tray) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(tray, WM_NULL, 0, 0, SMTO_NORMAL, kPassTimeoutMs, &result) != 0;
}

// One pass through the agent's own message loop. A posted message comes before
// any timer's WM_TIMER, so the next pass to start is this one; once its listing
// is in the simulator's log, the agent is inside the pass, and WaitIdle returns
// when the pass is over. Under Wine a CreateProcessW now and then fails: a pass
// whose listing could not start leaves no line, and is over long before the wait
// for one gives up. Its time is not kept; listed is false.
bool PostPass(HWND tray, double& ms, bool& listed) {
    int before = ListingCount();
    double begin = BenchNowMs();
    if (!PostMessageW(tray, WM_TIMER, IDT_ENFORCE, 0)) return false;
    listed = ui_driver::WaitUntil([&] { return ListingCount() > before; }, kListingWaitMs);
    bool idle = WaitIdle(tray);
    ms = BenchNowMs() - begin;
    return idle;
}

// Until no pass is running or about to run (the timer may have fired meanwhile).
bool Settle(HWND tray) {
    for (int round = 0; round < 20; ++round) {
        int before = ListingCount();
        if (!WaitIdle(tray)) return false;
        Sleep(250);
        if (ListingCount() == before) return WaitIdle(tray);
    }
    return false;
}

// ---- Windows.

bool Step(bool ok, const char* what) {
    if (!ok)
        std::fprintf(stderr, "vb_bench_agent: %s: %s\n", what, ui_driver::DriverError().c_str());
    return ok;
}

bool EnterPassword(DWORD agentId) {
    using namespace ui_driver;
    HWND enter = WaitForWindow(L"VBEnterPasswordWnd", nullptr, agentId);
    return Step(enter != nullptr, "password dialog") &&
           Step(TypeInto(Control(enter, IDC_PASSWORD), kPasswordW), "typing the password") &&
           Step(Press(enter, IDC_OK), "OK") && Step(WaitGone(enter), "password dialog closing");
}

// The same kinds of window in the baseline: three password dialogs, the
// new-password dialog, the settings window's list, the menu.
bool BaselineRound(const Program& tray) {
    for (WPARAM kind : {0, 0, 0, 1, 2, 3}) {
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(tray.window, WM_OPEN_WINDOW, kind, 0, SMTO_NORMAL, 10000, &result))
            return false;
    }
    return true;
}

bool WindowRound(const Program& agent) {
    using namespace ui_driver;
    // A double-click on the icon: the password, then the settings.
    PostMessageW(agent.window, WM_TRAYICON, 1, WM_LBUTTONDBLCLK);
    if (!EnterPassword(agent.id)) return false;
    HWND settings = WaitForWindow(L"VBSettingsWnd", nullptr, agent.id);
    if (!Step(settings != nullptr, "settings window") ||
        !Step(Press(settings, IDC_CHANGEPW), "Changer le mot de passe") || !EnterPassword(agent.id))
        return false;
    HWND setPassword = WaitForWindow(L"VBSetPasswordWnd", nullptr, agent.id);
    if (!Step(setPassword != nullptr, "new-password dialog") ||
        !Step(Press(setPassword, IDC_CANCEL), "Annuler") ||
        !Step(WaitGone(setPassword), "new-password dialog closing"))
        return false;
    // The settings window is enabled again once the dialog's modal loop has ended.
    if (!Step(WaitUntil([&] { return IsWindowEnabled(settings) != FALSE; }), "settings enabled") ||
        !Step(Press(settings, IDC_CANCEL), "Fermer") ||
        !Step(WaitGone(settings), "settings window closing"))
        return false;

    // The icon's menu: "Paramètres…" is its first item. The menu's own loop reads
    // the keys from the agent thread's queue, as it would a user's.
    PostMessageW(agent.window, WM_TRAYICON, 1, WM_RBUTTONUP);
    HWND menu = WaitForWindow(L"#32768", nullptr, agent.id);
    if (!Step(menu != nullptr, "tray menu")) return false;
    PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
    HWND enter = WaitForWindow(L"VBEnterPasswordWnd", nullptr, agent.id);
    return Step(enter != nullptr, "password dialog from the menu") &&
           Step(CloseBox(enter), "close box") && Step(WaitGone(enter), "password dialog closing") &&
           Step(WaitUntil([&] { return !IsWindow(menu) || !IsWindowVisible(menu); }),
                "tray menu closing");
}

// ---- Setup and report.

bool PrepareMachine() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies");
    BenchWriteSmallHosts();
    BenchSetAdapters(1);
    static VbConfig config;
    std::memset(&config, 0, sizeof config);
    if (!VbGenerateSalt(config.salt, sizeof config.salt) ||
        !VbHashPassword(config.salt, kPassword, config.hash, sizeof config.hash))
        return false;
    config.hasPassword = 1;
    config.enabled = 1;
    for (int i = 0; i < VbMaxSites; ++i) {
        std::snprintf(config.sites[i], VbSiteSlotSize, "s%02d", i);
        for (std::size_t j = 3; j < VbSiteSlotSize - 1; ++j)
            config.sites[i][j] = (j + 1) % 64 == 0 ? '.' : static_cast<char>('a' + (i + j) % 26);
        config.sites[i][VbSiteSlotSize - 1] = '\0';
    }
    config.siteCount = VbMaxSites;
    return VbSaveConfig(&config) == 1;
}

struct Point {
    const char* name;
    Usage agent;
    Usage baseline;
};

void PrintUsage(const std::vector<Point>& points) {
    std::printf("\n  %-34s", "agent (baseline in brackets)");
    for (const Point& point : points)
        std::printf(" %18s", point.name);
    std::printf("\n");
    auto row = [&](const char* what, auto get) {
        std::printf("  %-34s", what);
        for (const Point& point : points) {
            std::string cell = BenchFormat("%.0f (%.0f)", get(point.agent), get(point.baseline));
            std::printf(" %18s", cell.c_str());
        }
        std::printf("\n");
    };
    row("private bytes KiB", [](const Usage& u) { return u.privateKiB; });
    row("committed private KiB", [](const Usage& u) { return u.committedPrivateKiB; });
    row("working set KiB", [](const Usage& u) { return u.workingSetKiB; });
    row("handles", [](const Usage& u) { return static_cast<double>(u.handles); });
    row("GDI objects", [](const Usage& u) { return static_cast<double>(u.gdi); });
    row("USER objects", [](const Usage& u) { return static_cast<double>(u.user); });
    const Usage& u = points.front().agent;
    std::printf("  methods: private = %s; handles = %s; GDI = %s; USER = %s\n", u.privateMethod,
                u.handleMethod, u.gdiMethod, u.userMethod);
    std::fflush(stdout);
}

std::string Growth(const Usage& from, const Usage& to) {
    return BenchFormat("private %+.0f KiB, handles %+ld, GDI %+ld, USER %+ld",
                       to.privateKiB - from.privateKiB, to.handles - from.handles,
                       to.gdi - from.gdi, to.user - from.user);
}

// The committed private memory's growth in the two columns, the rest in the note.
void GrowthRow(const std::string& what, const Point& from, const Point& to) {
    BenchRow(
        what,
        BenchFormat("%+.0f KiB", to.agent.committedPrivateKiB - from.agent.committedPrivateKiB),
        BenchFormat("%+.0f KiB",
                    to.baseline.committedPrivateKiB - from.baseline.committedPrivateKiB),
        "agent " + Growth(from.agent, to.agent) + "; baseline " +
            Growth(from.baseline, to.baseline));
}

BenchJson GrowthJson(const Usage& from, const Usage& to) {
    BenchJson json;
    json.Number("private_kib", to.privateKiB - from.privateKiB)
        .Number("committed_private_kib", to.committedPrivateKiB - from.committedPrivateKiB)
        .Integer("handles", to.handles - from.handles)
        .Integer("gdi_objects", to.gdi - from.gdi)
        .Integer("user_objects", to.user - from.user);
    return json;
}

BenchJson GrowthJson(const Point& from, const Point& to) {
    BenchJson json;
    json.Object("agent", GrowthJson(from.agent, to.agent))
        .Object("baseline", GrowthJson(from.baseline, to.baseline));
    return json;
}

long long FileBytes(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

struct Options {
    std::wstring json;
    int idleSeconds = 60;
    int passes = 100;
    int rounds = 50;
};

int Run(Program& agent, Program& tray, const Options& options) {
    std::vector<Point> points;
    auto measure = [&](const char* name) {
        points.push_back({name, Measure(agent), Measure(tray)});
    };
    BenchJson json;

    if (!Launch(tray, L"VBBenchTrayWnd") || !Launch(agent, L"VBTrayWnd")) return 1;
    if (HWND open = FindProcessWindow(L"VBSetPasswordWnd", agent.id);
        open != nullptr && IsWindowVisible(open)) {
        std::fprintf(stderr, "vb_bench_agent: the agent opened its first-run dialog\n");
        return 1;
    }
    if (!Settle(agent.window)) return 1;
    measure("start");

    std::vector<double> passMs;
    int halfPasses = options.passes / 2;
    int listingsBefore = ListingCount();
    double passCpu0 = ThreadCpuMs(agent.id);
    double passCpu = 0;
    int unlisted = 0;
    for (int i = 1; i <= options.passes; ++i) {
        double ms = 0;
        bool listed = true;
        if (!PostPass(agent.window, ms, listed)) {
            std::fprintf(stderr, "vb_bench_agent: pass %d did not finish\n", i);
            return 1;
        }
        if (listed)
            passMs.push_back(ms);
        else
            ++unlisted;
        if (i == halfPasses || i == options.passes) {
            if (!Settle(agent.window)) return 1;
            // Before any measuring: under Wine, walking another process's memory
            // runs in that process, and would count as its processor time.
            if (i == halfPasses)
                passCpu = (ThreadCpuMs(agent.id) - passCpu0) /
                          (ListingCount() - listingsBefore + unlisted);
            measure(i == halfPasses ? "half passes" : "all passes");
        }
    }
    int passesRun = ListingCount() - listingsBefore + unlisted;

    double roundsBegin = BenchNowMs();
    int halfRounds = options.rounds / 2;
    for (int i = 1; i <= options.rounds; ++i) {
        if (!WindowRound(agent) || !BaselineRound(tray)) {
            std::fprintf(stderr, "vb_bench_agent: window round %d failed\n", i);
            return 1;
        }
        if (i == halfRounds || i == options.rounds) {
            if (!Settle(agent.window)) return 1;
            measure(i == halfRounds ? "half rounds" : "all rounds");
        }
    }
    double roundSeconds = (BenchNowMs() - roundsBegin) / 1000.0 / options.rounds;

    // Idle: nothing but the agent's own timer.
    if (!Settle(agent.window)) return 1;
    int listings0 = ListingCount();
    double agentCpu0 = ThreadCpuMs(agent.id);
    double trayCpu0 = ThreadCpuMs(tray.id);
    double agentProcessCpu0 = ProcessCpuMs(agent.process.Get());
    double begin = BenchNowMs();
    Sleep(static_cast<DWORD>(options.idleSeconds) * 1000);
    // A timer pass still running at the end of the window is counted whole.
    if (!WaitIdle(agent.window)) return 1;
    double seconds = (BenchNowMs() - begin) / 1000.0;
    double agentCpu = ThreadCpuMs(agent.id) - agentCpu0;
    double trayCpu = ThreadCpuMs(tray.id) - trayCpu0;
    double agentProcessCpu = ProcessCpuMs(agent.process.Get()) - agentProcessCpu0;
    int timerPasses = ListingCount() - listings0;
    measure("after idle");
    double scale = 300.0 / seconds;

    bool quit = QuitAgent(agent);
    EndBaseline(tray);
    long long agentBytes = FileBytes(agent.path);
    long long trayBytes = FileBytes(tray.path);

    // ---- The table.
    BenchHeading(
        "Idle agent: Vellumbrook.exe in the prefix; baseline: vb_bench_tray.exe (one "
        "hidden window, one tray icon; windows of the same kinds during the rounds)");
    PrintUsage(points);
    std::printf("\n");
    BenchRow("growth (committed private memory)", "agent", "baseline", "");
    GrowthRow(BenchFormat("  passes %d..%d", halfPasses, options.passes), points[1], points[2]);
    GrowthRow(BenchFormat("  passes 0..%d", options.passes), points[0], points[2]);
    GrowthRow(BenchFormat("  window rounds %d..%d", halfRounds, options.rounds), points[3],
              points[4]);
    GrowthRow(BenchFormat("  window rounds 0..%d", options.rounds), points[2], points[4]);
    GrowthRow("  idle window", points[4], points[5]);
    BenchRow("one pass, posted WM_TIMER to idle again: ms",
             BenchFormat("%.1f", BenchMedian(passMs)), "",
             BenchFormat("median of %zu; %d passes ran (timer included), %d without a listing",
                         passMs.size(), passesRun, unlisted));
    BenchRow("  processor time of one pass: ms", BenchFormat("%.1f", passCpu), "",
             BenchFormat("mean over the first %d passes", halfPasses));
    BenchRow("one window round (6 windows): s", BenchFormat("%.2f", roundSeconds), "",
             "enter x3, settings, set-password, menu");
    std::string window = seconds >= 299.0
                             ? BenchFormat("measured over %.1f s", seconds)
                             : BenchFormat("measured over %.1f s, scaled x%.2f", seconds, scale);
    BenchRow("processor time, 5 idle minutes: ms", BenchFormat("%.0f", agentCpu * scale),
             BenchFormat("%.0f", trayCpu * scale),
             window + BenchFormat("; %d timer pass%s in the window", timerPasses,
                                  timerPasses == 1 ? "" : "es"));
    BenchRow("  processor time in the window: ms", BenchFormat("%.0f", agentCpu),
             BenchFormat("%.0f", trayCpu),
             BenchFormat("%.3f%% of one core; thread times move in 10 ms ticks under Wine",
                         agentCpu / (seconds * 10.0)));
    BenchRow("quit through Quitter + password", quit ? "yes" : "NO", "", "");

    BenchHeading("Size of the program file");
    BenchRow("Vellumbrook.exe: bytes", BenchFormat("%lld", agentBytes),
             BenchFormat("%lld", trayBytes),
             BenchFormat("x%.2f; both static, same flags",
                         static_cast<double>(agentBytes) / static_cast<double>(trayBytes)));

    // ---- The file.
    BenchJson usage;
    for (const Point& point : points) {
        BenchJson both;
        both.Object("agent", UsageJson(point.agent)).Object("baseline", UsageJson(point.baseline));
        usage.Object(point.name, both);
    }
    BenchJson growth;
    growth.Object("passes_half_to_all", GrowthJson(points[1], points[2]))
        .Object("passes_start_to_all", GrowthJson(points[0], points[2]))
        .Object("rounds_half_to_all", GrowthJson(points[3], points[4]))
        .Object("rounds_start_to_all", GrowthJson(points[2], points[4]))
        .Object("idle_window", GrowthJson(points[4], points[5]));
    BenchJson idle;
    idle.Number("window_s", seconds)
        .Integer("timer_passes_in_window", timerPasses)
        .Number("agent_cpu_ms", agentCpu)
        .Number("baseline_cpu_ms", trayCpu)
        .Number("agent_cpu_ms_per_5_min", agentCpu * scale)
        .Number("baseline_cpu_ms_per_5_min", trayCpu * scale)
        .Boolean("scaled", seconds < 299.0)
        .Number("agent_process_times_ms", agentProcessCpu)
        .Text("cpu_method", "sum of GetThreadTimes over the process's threads");
    json.Integer("passes", options.passes)
        .Integer("passes_run_including_timer", passesRun)
        .Integer("passes_without_listing", unlisted)
        .Object("pass_ms", BenchJson().Number("median", BenchMedian(passMs)))
        .Number("pass_cpu_ms_mean", passCpu)
        .Integer("window_rounds", options.rounds)
        .Number("window_round_s", roundSeconds)
        .Object("usage", usage)
        .Object("growth", growth)
        .Object("idle", idle)
        .Boolean("quit_with_password", quit)
        .Object("file_bytes", BenchJson()
                                  .Integer("agent", agentBytes)
                                  .Integer("baseline", trayBytes)
                                  .Number("ratio", static_cast<double>(agentBytes) /
                                                       static_cast<double>(trayBytes)));
    if (!options.json.empty() && !BenchWriteText(options.json, json.Str() + "\n")) {
        std::fprintf(stderr, "vb_bench_agent: cannot write the JSON file\n");
        return 1;
    }
    return quit ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (!BenchIsSandbox()) return BenchRefuse("vb_bench_agent");
    Program agent;
    agent.name = "Vellumbrook.exe";
    Program tray;
    tray.name = "vb_bench_tray.exe";
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string_view option = argv[i];
        if (option == "--agent") agent.path = BenchWiden(argv[i + 1]);
        if (option == "--tray") tray.path = BenchWiden(argv[i + 1]);
        if (option == "--json") options.json = BenchWiden(argv[i + 1]);
        if (option == "--idle-seconds") options.idleSeconds = std::atoi(argv[i + 1]);
        if (option == "--passes") options.passes = std::atoi(argv[i + 1]);
        if (option == "--rounds") options.rounds = std::atoi(argv[i + 1]);
    }
    if (agent.path.empty() || tray.path.empty() || options.passes < 2 || options.rounds < 2 ||
        options.idleSeconds < 1) {
        std::fprintf(stderr,
                     "usage: vb_bench_agent --agent PATH --tray PATH [--json PATH] "
                     "[--idle-seconds N] [--passes N] [--rounds N]\n");
        return 2;
    }
    if (!PrepareMachine()) {
        std::fprintf(stderr, "vb_bench_agent: cannot write config.dat\n");
        return 1;
    }
    int status = Run(agent, tray, options);
    // Whatever happened, nothing this program started outlives it.
    for (Program* program : {&agent, &tray}) {
        if (program->process && WaitForSingleObject(program->process.Get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(program->process.Get(), 1);
            WaitForSingleObject(program->process.Get(), 10000);
        }
    }
    return status;
}
