#include "tests/support/ui_driver.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <thread>

#include "common/vb_handle.h"
#include "ui/ui_internal.h"

namespace ui_driver {
namespace {

// Sends that time out, so that a hung window fails the test instead of hanging it.
bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result = nullptr) {
    DWORD_PTR answer = 0;
    bool sent =
        SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &answer);
    if (result != nullptr) *result = answer;
    return sent;
}

bool UserCanReach(HWND control) {
    return control != nullptr && IsWindowVisible(control) && IsWindowEnabled(control) &&
           IsWindowEnabled(GetAncestor(control, GA_ROOT));
}

HWND Find(const wchar_t* className, DWORD processId, HWND owner, bool hidden, int timeoutMs) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            while ((found = FindWindowExW(nullptr, found, className, nullptr))) {
                DWORD process = 0;
                GetWindowThreadProcessId(found, &process);
                if ((hidden || IsWindowVisible(found)) &&
                    (processId == 0 || process == processId) &&
                    (owner == nullptr || GetWindow(found, GW_OWNER) == owner))
                    return true;
            }
            return false;
        },
        timeoutMs);
    return found;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (; !condition(); Sleep(20))
        if (GetTickCount64() >= end) return false;
    return true;
}

HWND WaitForWindow(const wchar_t* className, DWORD processId, int timeoutMs) {
    return Find(className, processId, nullptr, false, timeoutMs);
}

HWND TrayOf(DWORD processId, int timeoutMs) {
    return Find(L"VBTrayWnd", processId, nullptr, true, timeoutMs);
}

// MessageBoxW makes a "#32770" dialog, its message in the static with id 0xFFFF.
HWND WaitForMessageBox(HWND owner, int timeoutMs) {
    return Find(L"#32770", 0, owner, false, timeoutMs);
}

bool Settled(HWND window) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &ignored) != 0;
}

// GetWindowTextW reads only the caption of another process's window.
std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (window == nullptr || !Send(window, WM_GETTEXTLENGTH, 0, 0, &length)) return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &copied);
    text.resize(copied);
    return text;
}

std::wstring MessageBoxText(HWND box) {
    return TextOf(GetDlgItem(box, 0xFFFF));
}

// The shell keeps a tooltip tool per tray icon. TTM_ENUMTOOLSW fills a record and its
// text in the shell's memory, fresh each time: a tool without a text reads as empty.
std::wstring TrayTip() {
    DWORD shell = 0;
    GetWindowThreadProcessId(FindWindowW(L"Shell_TrayWnd", nullptr), &shell);
    VbUniqueHandle process(
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, shell));
    struct Remote {
        TTTOOLINFOW tool;
        wchar_t text[1024];  // room for the longest text Wine's shell holds, a balloon's
    };
    auto* remote = static_cast<Remote*>(VirtualAllocEx(process.Get(), nullptr, sizeof(Remote),
                                                       MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (remote == nullptr) return {};
    std::wstring found;
    for (HWND tip = nullptr; (tip = FindWindowExW(nullptr, tip, TOOLTIPS_CLASSW, nullptr));) {
        DWORD owner = 0;
        DWORD_PTR count = 0;
        GetWindowThreadProcessId(tip, &owner);
        if (owner != shell || !Send(tip, TTM_GETTOOLCOUNT, 0, 0, &count)) continue;
        for (DWORD_PTR i = 0, filled = 0; i < count; ++i) {
            Remote local = {};
            local.tool.cbSize = sizeof local.tool;
            local.tool.lpszText = remote->text;
            // The agent's icon, by its text; two such icons both show, and fail any comparison.
            if (WriteProcessMemory(process.Get(), remote, &local, sizeof local, nullptr) &&
                Send(tip, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(remote), &filled) && filled &&
                ReadProcessMemory(process.Get(), remote->text, local.text,
                                  sizeof local.text - sizeof(wchar_t), nullptr) &&
                std::wstring_view(local.text).starts_with(L"Vellumbrook - "))
                found += (found.empty() ? L"" : L" | ") + std::wstring(local.text);
        }
    }
    VirtualFreeEx(process.Get(), remote, 0, MEM_RELEASE);
    return found;
}

HWND FocusedControl(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus == window || IsChild(window, info.hwndFocus) ? info.hwndFocus : nullptr;
}

// The WM_CHAR a keystroke becomes: the box applies its own rules, without the focus.
bool TypeInto(HWND edit, std::wstring_view text) {
    bool typed = UserCanReach(edit) && Send(edit, EM_SETSEL, 0, -1);
    for (wchar_t unit : text)
        typed = typed && Send(edit, WM_CHAR, unit, 1);
    return typed;
}

// Posted, as a click is: a handler that opens a message box returns only once it goes.
bool Press(HWND window, int buttonId) {
    HWND button = GetDlgItem(window, buttonId);
    return UserCanReach(button) && PostMessageW(button, BM_CLICK, 0, 0);
}

bool CloseWith(HWND window, int button) {
    return Press(window, button) && WaitUntil([window] { return !IsWindow(window); });
}

void ExpectMessageBox(HWND owner, std::wstring_view text, int timeoutMs) {
    HWND box = WaitForMessageBox(owner, timeoutMs);
    ASSERT_TRUE(box) << "no message box";
    EXPECT_EQ(MessageBoxText(box), text);
    ASSERT_TRUE(CloseWith(box, IDOK));
}

bool FillPassword(HWND dialog, std::wstring_view password, std::wstring_view confirm, bool submit) {
    HWND second = GetDlgItem(dialog, IDC_CONFIRM);
    return TypeInto(GetDlgItem(dialog, IDC_PASSWORD), password) &&
           (second == nullptr || TypeInto(second, confirm)) && (!submit || Press(dialog, IDC_OK));
}

// Under Wine SetForegroundWindow works from any process, but a window another
// process just showed may take the foreground back once: it must hold a moment.
bool Keys(HWND window, std::initializer_list<WORD> keys) {
    HWND root = GetAncestor(window, GA_ROOT);
    ULONGLONG heldSince = 0;
    if (!UserCanReach(window) || !WaitUntil(
                                     [&] {
                                         if (GetForegroundWindow() != root) {
                                             SetForegroundWindow(root);
                                             heldSince = 0;
                                             return false;
                                         }
                                         heldSince = heldSince != 0 ? heldSince : GetTickCount64();
                                         return GetTickCount64() - heldSince >= 300;
                                     },
                                     3000))
        return false;
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    if (AttachThreadInput(GetCurrentThreadId(), thread, TRUE)) {
        SetFocus(window);
        AttachThreadInput(GetCurrentThreadId(), thread, FALSE);
    }
    const bool alt = *keys.begin() == VK_MENU;
    for (WORD key : keys) {
        if (key == VK_MENU) continue;
        const WORD order[4] = {VK_MENU, key, key, VK_MENU};
        INPUT input[4] = {};
        for (int i = 0; i < 4; ++i)
            input[i] = {INPUT_KEYBOARD, {.ki = {order[i], 0, i < 2 ? 0u : KEYEVENTF_KEYUP, 0, 0}}};
        UINT count = alt ? 4 : 2;
        if (SendInput(count, alt ? input : input + 1, sizeof(INPUT)) != count) return false;
        Sleep(100);
    }
    return true;
}

void RunWithDriver(const std::function<void()>& ui, const std::function<void()>& script) {
    DWORD uiThread = GetCurrentThreadId();
    VbUniqueHandle uiDone(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    bool quitPosted = false;
    std::thread driver([&] {
        script();
        // Every modal loop passes a WM_QUIT on, so nested windows all close.
        DWORD grace = testing::Test::HasFailure() ? 2000 : 60000;
        if (WaitForSingleObject(uiDone.Get(), grace) == WAIT_TIMEOUT)
            quitPosted = PostThreadMessageW(uiThread, WM_QUIT, 0, 0);
    });
    ui();
    SetEvent(uiDone.Get());
    driver.join();
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    if (quitPosted) ADD_FAILURE() << "the window was still open when the script was done";
}

}  // namespace ui_driver
