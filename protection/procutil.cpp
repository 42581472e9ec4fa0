// Hidden child processes: netsh commands and the capture of their listing.
#include "protection/procutil.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "common/vb_handle.h"
#include "common/vb_text.h"

namespace {

constexpr DWORD kChildWaitMs = 15000;
constexpr std::size_t kFirstCapacity = 8192;
constexpr DWORD kChunkSize = 1024;
// A listing is a few KiB; a child that writes without end is cut here.
constexpr std::size_t kCaptureMax = 1024 * 1024;

// Where a child runs from: the full path of the command line's program in the
// system directory, and that directory as its working directory. The agent runs
// elevated: letting the platform search the agent's folder or the current
// directory, for the program or for the DLLs it loads, would run whatever
// someone planted there as administrator.
struct ChildPlace {
    wchar_t program[MAX_PATH];
    wchar_t directory[MAX_PATH];
};

bool SystemProgramPath(const wchar_t* commandLine, ChildPlace& place) noexcept {
    std::wstring_view line(commandLine);
    std::wstring_view program;
    if (!line.empty() && line.front() == L'"') {
        std::size_t close = line.find(L'"', 1);
        if (close == std::wstring_view::npos) return false;
        program = line.substr(1, close - 1);
    } else {
        program = line.substr(0, line.find_first_of(L" \t"));
    }
    // A bare name only: a path would lead out of the system directory.
    if (program.empty() || program.find_first_of(L"\\/:") != std::wstring_view::npos ||
        program == L"." || program == L"..")
        return false;

    UINT length = GetSystemDirectoryW(place.directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    bool hasExtension = program.find(L'.') != std::wstring_view::npos;
    return VbJoin<wchar_t>(place.program,
                           {place.directory, L"\\", program, hasExtension ? L"" : L".exe"});
}

struct AttributeListDeleter {
    void operator()(LPPROC_THREAD_ATTRIBUTE_LIST list) const noexcept {
        DeleteProcThreadAttributeList(list);
    }
};

STARTUPINFOW HiddenStartup() noexcept {
    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    return startup;
}

}  // namespace

int VbRunHiddenCode(wchar_t* commandLine, unsigned long* exitCode) noexcept {
    ChildPlace place;
    if (!SystemProgramPath(commandLine, place)) return 0;
    STARTUPINFOW startup = HiddenStartup();
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(place.program, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, place.directory, &startup, &child))
        return 0;
    VbUniqueHandle process(child.hProcess);
    VbUniqueHandle thread(child.hThread);
    // A child still running after the wait has no exit code yet; it runs on.
    DWORD code = 0;
    if (WaitForSingleObject(process.Get(), kChildWaitMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.Get(), &code))
        return 0;
    *exitCode = code;
    return 1;
}

int VbRunHidden(wchar_t* commandLine) noexcept {
    unsigned long exitCode = 1;
    return VbRunHiddenCode(commandLine, &exitCode) && exitCode == 0 ? 1 : 0;
}

char* VbRunHiddenCapture(wchar_t* commandLine) noexcept {
    ChildPlace place;
    if (!SystemProgramPath(commandLine, place)) return nullptr;

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    VbUniqueHandle readEnd;
    VbUniqueHandle writeEnd;
    if (!CreatePipe(readEnd.Put(), writeEnd.Put(), &inherit, 0)) return nullptr;
    SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);

    // The child inherits the pipe's write end and nothing else: an explicit list,
    // so that no other inheritable handle of the agent reaches netsh.
    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::unique_ptr<BYTE[]> listBytes(new (std::nothrow) BYTE[listSize]);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBytes.get());
    if (!list || !InitializeProcThreadAttributeList(list, 1, 0, &listSize)) return nullptr;
    std::unique_ptr<_PROC_THREAD_ATTRIBUTE_LIST, AttributeListDeleter> listOwner(list);
    HANDLE inherited[] = {writeEnd.Get()};
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                   sizeof inherited, nullptr, nullptr))
        return nullptr;

    STARTUPINFOEXW startup = {HiddenStartup(), list};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = nullptr;
    startup.StartupInfo.hStdOutput = writeEnd.Get();
    startup.StartupInfo.hStdError = writeEnd.Get();
    PROCESS_INFORMATION child = {};
    BOOL started = CreateProcessW(place.program, commandLine, nullptr, nullptr, TRUE,
                                  CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                                  place.directory, &startup.StartupInfo, &child);
    // Without our write end, the pipe breaks as soon as the child's copies are closed.
    writeEnd.Reset();
    if (!started) return nullptr;
    VbUniqueHandle process(child.hProcess);
    VbUniqueHandle thread(child.hThread);

    VbUniqueMalloc text(static_cast<char*>(std::malloc(kFirstCapacity)));
    if (!text) return nullptr;
    std::size_t capacity = kFirstCapacity;
    std::size_t position = 0;

    // Anonymous pipes cannot be read with a time-out, so the loop looks before it
    // reads, and every turn checks the deadline: a child that keeps its output open,
    // or keeps writing, cannot hold the agent.
    const ULONGLONG deadline = GetTickCount64() + kChildWaitMs;
    char chunk[kChunkSize];
    while (position < kCaptureMax) {
        ULONGLONG now = GetTickCount64();
        if (now >= deadline) break;
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd.Get(), nullptr, 0, nullptr, &available, nullptr)) break;
        if (available == 0) {
            DWORD pause = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 10));
            // Wakes at once when the child ends; once it has, a process that inherited
            // the write end may still hold the pipe, so just pause.
            if (WaitForSingleObject(process.Get(), pause) == WAIT_OBJECT_0) Sleep(1);
            continue;
        }
        DWORD want = static_cast<DWORD>(
            std::min<std::size_t>({available, std::size_t{kChunkSize}, kCaptureMax - position}));
        DWORD got = 0;
        if (!ReadFile(readEnd.Get(), chunk, want, &got, nullptr) || got == 0) break;
        if (position + got + 1 > capacity) {
            char* grown = static_cast<char*>(std::realloc(text.Get(), capacity * 2));
            if (grown == nullptr) break;  // keep what was gathered before this chunk
            text.Release();
            text.Reset(grown);
            capacity *= 2;
        }
        std::memcpy(text.Get() + position, chunk, got);
        position += got;
    }
    text.Get()[position] = '\0';

    // What is left of the 15 seconds, for a child that has finished writing.
    ULONGLONG now = GetTickCount64();
    if (now < deadline) WaitForSingleObject(process.Get(), static_cast<DWORD>(deadline - now));
    return text.Release();
}
