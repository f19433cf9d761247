// uidriver: drives the windows of a program under test, one command per line
// on stdin, one answer line per command on stdout. The commands are listed in
// README.md next to this file.
#include <windows.h>
#include <commctrl.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "common/win/handle.h"

namespace {

using tq::win::KernelHandle;

const DWORD kPollMs = 20;
const DWORD kDefaultWaitMs = 10000;
const UINT kSendTimeoutMs = 5000;

// --- text -------------------------------------------------------------------

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string ToUtf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n, nullptr,
                        nullptr);
    return text;
}

// A field of an answer line: tabs, line breaks and backslashes escaped.
std::string Field(const std::wstring& wide) {
    std::string out;
    for (char c : ToUtf8(wide)) {
        switch (c) {
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\\': out += "\\\\"; break;
        default: out += c;
        }
    }
    return out;
}

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        std::string word;
        if (line[i] == '"') {
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] == '\\' && i + 1 < line.size()) ++i;
                word += line[i];
            }
            ++i;  // the closing quote
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') word += line[i++];
        }
        words.push_back(word);
    }
    return words;
}

long Number(const std::string& word) { return std::strtol(word.c_str(), nullptr, 0); }

HWND ToHwnd(const std::string& word) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoul(word.c_str(), nullptr, 16)));
}

std::string HwndText(HWND hwnd) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(hwnd)));
    return buffer;
}

bool TitleMatches(const std::wstring& title, const std::wstring& pattern) {
    if (!pattern.empty() && pattern.back() == L'*')
        return title.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    return title == pattern;
}

std::wstring WindowTitle(HWND hwnd) {
    wchar_t buffer[1024] = {};
    DWORD_PTR got = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                        kSendTimeoutMs, &got);
    return buffer;
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t buffer[256] = {};
    GetClassNameW(hwnd, buffer, 256);
    return buffer;
}

// --- memory in the target process, for the list view's structures ----------

class RemoteBuffer {
public:
    RemoteBuffer(HWND window, size_t size) : size_(size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        process_.reset(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
        if (process_)
            address_ = VirtualAllocEx(process_.get(), nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~RemoteBuffer() {
        if (address_) VirtualFreeEx(process_.get(), address_, 0, MEM_RELEASE);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    bool ok() const { return address_ != nullptr; }
    char* at(size_t offset) const { return static_cast<char*>(address_) + offset; }
    bool Write(size_t offset, const void* data, size_t size) const {
        return offset + size <= size_ && WriteProcessMemory(process_.get(), at(offset), data, size, nullptr);
    }
    bool Read(size_t offset, void* data, size_t size) const {
        return offset + size <= size_ && ReadProcessMemory(process_.get(), at(offset), data, size, nullptr);
    }

private:
    KernelHandle process_;
    void* address_ = nullptr;
    size_t size_;
};

// The struct goes first in the remote buffer, its text buffer after it.
const size_t kTextOffset = 256;
const int kTextChars = 1024;
const size_t kRemoteSize = kTextOffset + kTextChars * sizeof(wchar_t);

LRESULT Send(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result)) return -1;
    return static_cast<LRESULT>(result);
}

int ListColumnCount(HWND list) {
    HWND header = reinterpret_cast<HWND>(Send(list, LVM_GETHEADER, 0, 0));
    return header ? static_cast<int>(Send(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

bool ReadColumn(const RemoteBuffer& remote, HWND list, int column, int* width, std::wstring* caption) {
    LVCOLUMNW lvc = {};
    lvc.mask = LVCF_WIDTH | LVCF_TEXT;
    lvc.pszText = reinterpret_cast<LPWSTR>(remote.at(kTextOffset));
    lvc.cchTextMax = kTextChars;
    wchar_t empty = 0;
    if (!remote.Write(0, &lvc, sizeof lvc) || !remote.Write(kTextOffset, &empty, sizeof empty)) return false;
    if (!Send(list, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(remote.at(0)))) return false;
    std::vector<wchar_t> text(kTextChars + 1, 0);
    if (!remote.Read(0, &lvc, sizeof lvc) || !remote.Read(kTextOffset, text.data(), kTextChars * sizeof(wchar_t)))
        return false;
    *width = lvc.cx;
    *caption = text.data();
    return true;
}

bool ReadCell(const RemoteBuffer& remote, HWND list, int row, int column, std::wstring* cell) {
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<LPWSTR>(remote.at(kTextOffset));
    item.cchTextMax = kTextChars;
    wchar_t empty = 0;
    if (!remote.Write(0, &item, sizeof item) || !remote.Write(kTextOffset, &empty, sizeof empty)) return false;
    if (Send(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote.at(0))) < 0) return false;
    std::vector<wchar_t> text(kTextChars + 1, 0);
    if (!remote.Read(kTextOffset, text.data(), kTextChars * sizeof(wchar_t))) return false;
    *cell = text.data();
    return true;
}

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM lp) {
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(hwnd);
    return TRUE;
}

// --- the driver --------------------------------------------------------------

class Driver {
public:
    // Runs one command; the answer line without its end of line.
    std::string Run(const std::vector<std::string>& w);
    bool quit() const { return quit_; }

private:
    std::string Start(const std::vector<std::string>& w);
    std::string WaitWindow(const std::vector<std::string>& w, bool dialogOnly);
    std::string Windows();
    std::string Gone(const std::vector<std::string>& w);
    std::string Text(HWND window, const std::string& id);
    std::string Combo(HWND combo);
    std::string ComboSelect(HWND dialog, int id, int index);
    std::string ListBox(HWND listBox);
    std::string ListBoxSelect(HWND dialog, int id, int index);
    std::string ListColumns(HWND list);
    std::string ListCount(HWND list);
    std::string ListRow(HWND list, int row);
    std::string ListClick(HWND list, int row);
    std::string Keys(HWND window, const std::vector<std::string>& w);
    std::string HeaderClick(HWND list, int column);
    std::string Hover(HWND list, int row, int column);
    std::string Exit(const std::vector<std::string>& w);

    bool Ours(HWND hwnd) const;
    std::vector<HWND> TopWindows() const;

    std::vector<DWORD> pids_;
    KernelHandle lastProcess_;
    bool quit_ = false;
};

std::string Ok(const std::string& rest = {}) { return rest.empty() ? "ok" : "ok\t" + rest; }
std::string Err(const std::string& why) { return "err\t" + why; }

DWORD WaitArg(const std::vector<std::string>& w, size_t index) {
    return w.size() > index ? static_cast<DWORD>(Number(w[index])) : kDefaultWaitMs;
}

std::string Driver::Run(const std::vector<std::string>& w) {
    const std::string& c = w[0];
    const size_t n = w.size();
    if (c == "start" && n >= 2) return Start(w);
    if (c == "window" && n >= 2) return WaitWindow(w, false);
    if (c == "box" && n >= 2) return WaitWindow(w, true);
    if (c == "windows") return Windows();
    if (c == "gone" && n >= 2) return Gone(w);
    if (c == "exit") return Exit(w);
    if (c == "sleep" && n >= 2) {
        Sleep(static_cast<DWORD>(Number(w[1])));
        return Ok();
    }
    if (c == "kill") {
        if (!lastProcess_) return Err("nothing started");
        TerminateProcess(lastProcess_.get(), 1);
        return Ok();
    }
    if (c == "quit") {
        quit_ = true;
        return Ok();
    }
    if (n < 2) return Err("unknown command or missing arguments");
    HWND hwnd = ToHwnd(w[1]);
    if (!IsWindow(hwnd)) return Err("no window " + w[1]);
    if (c == "close") return PostMessageW(hwnd, WM_CLOSE, 0, 0) ? Ok() : Err("post failed");
    if (c == "post" && n >= 5)
        return PostMessageW(hwnd, static_cast<UINT>(Number(w[2])), static_cast<WPARAM>(Number(w[3])),
                            static_cast<LPARAM>(Number(w[4])))
                   ? Ok()
                   : Err("post failed");
    if (c == "text" && n >= 3) return Text(hwnd, w[2]);
    if (c == "title") {
        // Read without a message to the window, so also while its thread is held.
        wchar_t title[1024] = L"";
        InternalGetWindowText(hwnd, title, 1024);
        return "ok\t" + Field(title);
    }
    if (c == "keys" && n >= 3) return Keys(hwnd, w);
    if (n < 3) return Err("unknown command or missing arguments");
    const int id = static_cast<int>(Number(w[2]));
    if (c == "command")
        return PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                            reinterpret_cast<LPARAM>(GetDlgItem(hwnd, id)))
                   ? Ok()
                   : Err("post failed");
    HWND control = GetDlgItem(hwnd, id);
    if (!control) return Err("no control " + w[2]);
    if (c == "click") return PostMessageW(control, BM_CLICK, 0, 0) ? Ok() : Err("post failed");
    if (c == "child") return Ok(HwndText(control));
    if (c == "checked") return Ok(Send(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? "1" : "0");
    if (c == "settext" && n >= 4) {
        const std::wstring text = FromUtf8(w[3]);
        return Send(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) > 0 ? Ok()
                                                                                       : Err("settext failed");
    }
    if (c == "size") {
        RECT rect = {};
        GetWindowRect(control, &rect);
        return Ok(std::to_string(rect.right - rect.left) + "\t" + std::to_string(rect.bottom - rect.top));
    }
    if (c == "state")
        return Ok(std::string(IsWindowVisible(control) ? "1" : "0") + "\t" + (IsWindowEnabled(control) ? "1" : "0"));
    if (c == "combo") return Combo(control);
    if (c == "combo-select" && n >= 4) return ComboSelect(hwnd, id, static_cast<int>(Number(w[3])));
    if (c == "listbox") return ListBox(control);
    if (c == "listbox-select" && n >= 4) return ListBoxSelect(hwnd, id, static_cast<int>(Number(w[3])));
    if (c == "lv-columns") return ListColumns(control);
    if (c == "lv-count") return ListCount(control);
    if (c == "lv-row" && n >= 4) return ListRow(control, static_cast<int>(Number(w[3])));
    if (c == "lv-click" && n >= 4) return ListClick(control, static_cast<int>(Number(w[3])));
    if (c == "lv-header-click" && n >= 4) return HeaderClick(control, static_cast<int>(Number(w[3])));
    if (c == "lv-hover" && n >= 5)
        return Hover(control, static_cast<int>(Number(w[3])), static_cast<int>(Number(w[4])));
    return Err("unknown command or missing arguments");
}

std::string Driver::Start(const std::vector<std::string>& w) {
    std::wstring commandLine = L"\"" + FromUtf8(w[1]) + L"\"";
    for (size_t i = 3; i < w.size(); ++i) commandLine += L" \"" + FromUtf8(w[i]) + L"\"";
    const std::wstring cwd = w.size() > 2 && w[2] != "-" ? FromUtf8(w[2]) : std::wstring();
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        cwd.empty() ? nullptr : cwd.c_str(), &si, &pi))
        return Err("CreateProcess failed, error " + std::to_string(GetLastError()));
    CloseHandle(pi.hThread);
    lastProcess_.reset(pi.hProcess);
    pids_.push_back(pi.dwProcessId);
    return Ok(std::to_string(pi.dwProcessId));
}

bool Driver::Ours(HWND hwnd) const {
    if (pids_.empty()) return true;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    for (DWORD p : pids_)
        if (p == pid) return true;
    return false;
}

std::vector<HWND> Driver::TopWindows() const {
    std::vector<HWND> all;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&all));
    std::vector<HWND> ours;
    for (HWND hwnd : all)
        if (IsWindowVisible(hwnd) && Ours(hwnd)) ours.push_back(hwnd);
    return ours;
}

std::string Driver::WaitWindow(const std::vector<std::string>& w, bool dialogOnly) {
    const std::wstring pattern = FromUtf8(w[1]);
    const DWORD timeout = WaitArg(w, 2);
    const DWORD start = GetTickCount();
    for (;;) {
        for (HWND hwnd : TopWindows()) {
            if (dialogOnly && (ClassOf(hwnd) != L"#32770" || !IsWindowEnabled(hwnd))) continue;
            if (!TitleMatches(WindowTitle(hwnd), pattern)) continue;
            if (!dialogOnly) return Ok(HwndText(hwnd));
            HWND message = GetDlgItem(hwnd, 0xFFFF);
            return Ok(HwndText(hwnd) + "\t" + (message ? Field(WindowTitle(message)) : std::string()));
        }
        if (GetTickCount() - start >= timeout) return Err("no window " + w[1]);
        Sleep(kPollMs);
    }
}

std::string Driver::Windows() {
    std::string fields;
    for (HWND hwnd : TopWindows()) {
        if (!fields.empty()) fields += "\t";
        fields += HwndText(hwnd) + "\t" + Field(WindowTitle(hwnd)) + "\t" + Field(ClassOf(hwnd));
    }
    return Ok(fields);
}

std::string Driver::Gone(const std::vector<std::string>& w) {
    HWND hwnd = ToHwnd(w[1]);
    const DWORD timeout = WaitArg(w, 2);
    const DWORD start = GetTickCount();
    while (IsWindow(hwnd) && IsWindowVisible(hwnd)) {
        if (GetTickCount() - start >= timeout) return Err("window still there");
        Sleep(kPollMs);
    }
    return Ok();
}

std::string Driver::Exit(const std::vector<std::string>& w) {
    if (!lastProcess_) return Err("nothing started");
    if (WaitForSingleObject(lastProcess_.get(), WaitArg(w, 1)) != WAIT_OBJECT_0) return Err("still running");
    DWORD code = 0;
    GetExitCodeProcess(lastProcess_.get(), &code);
    return Ok(std::to_string(code));
}

std::string Driver::Text(HWND window, const std::string& id) {
    HWND control = id == "-" ? window : GetDlgItem(window, static_cast<int>(Number(id)));
    if (!control) return Err("no control " + id);
    return "ok\t" + Field(WindowTitle(control));
}

std::string Driver::Combo(HWND combo) {
    std::string fields = std::to_string(Send(combo, CB_GETCURSEL, 0, 0));
    const int count = static_cast<int>(Send(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        const LRESULT length = Send(combo, CB_GETLBTEXTLEN, i, 0);
        std::wstring item(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
        Send(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()));  // marshalled by the system
        item.resize(wcslen(item.c_str()));
        fields += "\t" + Field(item);
    }
    return Ok(fields);
}

std::string Driver::ComboSelect(HWND dialog, int id, int index) {
    HWND combo = GetDlgItem(dialog, id);
    if (Send(combo, CB_SETCURSEL, index, 0) != index) return Err("no item " + std::to_string(index));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    return Ok();
}

std::string Driver::ListBox(HWND listBox) {
    std::string fields = std::to_string(Send(listBox, LB_GETCURSEL, 0, 0));
    const int count = static_cast<int>(Send(listBox, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        const LRESULT length = Send(listBox, LB_GETTEXTLEN, i, 0);
        std::wstring item(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
        Send(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(item.data()));
        item.resize(wcslen(item.c_str()));
        fields += "\t" + Field(item);
    }
    return Ok(fields);
}

std::string Driver::ListBoxSelect(HWND dialog, int id, int index) {
    HWND listBox = GetDlgItem(dialog, id);
    if (Send(listBox, LB_SETCURSEL, index, 0) != index) return Err("no item " + std::to_string(index));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE), reinterpret_cast<LPARAM>(listBox));
    return Ok();
}

std::string Driver::ListColumns(HWND list) {
    RemoteBuffer remote(list, kRemoteSize);
    if (!remote.ok()) return Err("no memory in the target");
    std::string fields;
    const int count = ListColumnCount(list);
    for (int i = 0; i < count; ++i) {
        int width = 0;
        std::wstring caption;
        if (!ReadColumn(remote, list, i, &width, &caption)) return Err("column " + std::to_string(i));
        if (i) fields += "\t";
        fields += std::to_string(width) + "\t" + Field(caption);
    }
    return Ok(fields);
}

std::string Driver::ListCount(HWND list) {
    const LRESULT count = Send(list, LVM_GETITEMCOUNT, 0, 0);
    const LRESULT selected = Send(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
    return Ok(std::to_string(count) + "\t" + std::to_string(selected));
}

std::string Driver::ListRow(HWND list, int row) {
    RemoteBuffer remote(list, kRemoteSize);
    if (!remote.ok()) return Err("no memory in the target");
    if (row < 0 || row >= Send(list, LVM_GETITEMCOUNT, 0, 0)) return Err("no row " + std::to_string(row));
    std::string fields;
    const int count = ListColumnCount(list);
    for (int i = 0; i < count; ++i) {
        std::wstring cell;
        if (!ReadCell(remote, list, row, i, &cell)) return Err("cell " + std::to_string(i));
        if (i) fields += "\t";
        fields += Field(cell);
    }
    return Ok(fields);
}

// A key by its name: a letter or digit, or one of a few named keys.
UINT KeyCode(const std::string& name) {
    if (name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0])))
        return static_cast<UINT>(std::toupper(static_cast<unsigned char>(name[0])));
    static const struct {
        const char* name;
        UINT code;
    } named[] = {{"F3", VK_F3},     {"RETURN", VK_RETURN}, {"ESCAPE", VK_ESCAPE},
                 {"DOWN", VK_DOWN}, {"UP", VK_UP},         {"APPS", VK_APPS},
                 {"F5", VK_F5},     {"DELETE", VK_DELETE}};
    for (const auto& key : named)
        if (name == key.name) return key.code;
    return 0;
}

INPUT KeyInput(UINT code, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = static_cast<WORD>(code);
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

// Typed as a user types them, into the window brought to the front, so that
// the program sees the key state (Ctrl held) as well as the key.
std::string Driver::Keys(HWND window, const std::vector<std::string>& w) {
    SetForegroundWindow(window);
    for (size_t i = 2; i < w.size(); ++i) {
        const bool ctrl = w[i].rfind("ctrl+", 0) == 0;
        const UINT code = KeyCode(ctrl ? w[i].substr(5) : w[i]);
        if (!code) return Err("unknown key " + w[i]);
        std::vector<INPUT> inputs;
        if (ctrl) inputs.push_back(KeyInput(VK_CONTROL, false));
        inputs.push_back(KeyInput(code, false));
        inputs.push_back(KeyInput(code, true));
        if (ctrl) inputs.push_back(KeyInput(VK_CONTROL, true));
        if (SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) != inputs.size())
            return Err("the keys were refused");
    }
    return Ok();
}

// A click as the list view sees a real one: button down and up at one point of
// its client area. The row is made visible and its place read first.
std::string Driver::ListClick(HWND list, int row) {
    POINT at = {};
    if (row >= 0) {
        RemoteBuffer remote(list, kRemoteSize);
        if (!remote.ok()) return Err("no memory in the target");
        Send(list, LVM_ENSUREVISIBLE, row, FALSE);
        RECT rect = {};
        rect.left = LVIR_LABEL;
        if (!remote.Write(0, &rect, sizeof rect) || !Send(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(remote.at(0))) ||
            !remote.Read(0, &rect, sizeof rect))
            return Err("no row " + std::to_string(row));
        at.x = rect.left + 4;
        at.y = (rect.top + rect.bottom) / 2;
    } else {
        RECT client = {};
        GetClientRect(list, &client);
        at.x = 4;
        at.y = client.bottom - 4;
    }
    const LPARAM where = MAKELPARAM(at.x, at.y);
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, where);
    PostMessageW(list, WM_LBUTTONUP, 0, where);
    return Ok();
}

// The mouse put over a cell, as a user moves it there: the list sees the
// move from the system, and so does a tooltip that watches it.
std::string Driver::Hover(HWND list, int row, int column) {
    RemoteBuffer remote(list, kRemoteSize);
    if (!remote.ok()) return Err("no memory in the target");
    Send(list, LVM_ENSUREVISIBLE, row, FALSE);
    RECT rect = {};
    rect.top = column;
    rect.left = LVIR_LABEL;
    if (!remote.Write(0, &rect, sizeof rect) ||
        !Send(list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(remote.at(0))) ||
        !remote.Read(0, &rect, sizeof rect))
        return Err("no cell " + std::to_string(row) + " " + std::to_string(column));
    POINT at = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    ClientToScreen(list, &at);
    SetCursorPos(at.x - 3, at.y);
    Sleep(50);
    SetCursorPos(at.x, at.y);
    return Ok();
}

// A click on a column's header, as the header sees a real one.
std::string Driver::HeaderClick(HWND list, int column) {
    HWND header = reinterpret_cast<HWND>(Send(list, LVM_GETHEADER, 0, 0));
    if (!header) return Err("the list has no header");
    RemoteBuffer remote(header, kRemoteSize);
    if (!remote.ok()) return Err("no memory in the target");
    RECT rect = {};
    if (!Send(header, HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(remote.at(0))) ||
        !remote.Read(0, &rect, sizeof rect) || rect.right <= rect.left)
        return Err("no column " + std::to_string(column));
    const LPARAM where = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    PostMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, where);
    PostMessageW(header, WM_LBUTTONUP, 0, where);
    return Ok();
}

bool ReadLine(std::string* line) {
    line->clear();
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    for (;;) {
        char c;
        DWORD got = 0;
        if (!ReadFile(in, &c, 1, &got, nullptr) || got == 0) return !line->empty();
        if (c == '\n') return true;
        if (c != '\r') *line += c;
    }
}

void WriteLine(const std::string& text) {
    const std::string line = text + "\n";
    DWORD written = 0;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    FlushFileBuffers(out);
}

}  // namespace

int main() {
    Driver driver;
    std::string line;
    while (!driver.quit() && ReadLine(&line)) {
        const std::vector<std::string> words = SplitWords(line);
        if (words.empty()) continue;
        WriteLine(driver.Run(words));
    }
    return 0;
}
