// Drives a running jx.exe from outside as a user would, through the window's own controls, and
// prints what they show. Steps are the arguments, run in order; a step that is not done within
// its deadline fails the run (exit 1) with the reason on stderr.
//   wait-window CAPTION   the top-level window with that caption (every later step acts on it)
//   rows N                waits for N rows in the list, then prints each row as jx-cli info does
//   wait-rows N           waits for N rows in the list
//   select K              selects row K (and only it) as a click would
//   command ID            sends the command of a menu entry
//   set-text ID TEXT      types TEXT into edit ID
//   drop FILE             drops FILE on the window
//   wait-text ID PREFIX   waits until control ID shows a text that starts with PREFIX
//   text ID               prints the text of control ID
//   click ID              presses button ID
//   items ID              prints the lines of list box ID
//   move X Y W H          moves and sizes the window
//   placement             prints the window's outer rectangle: placement X Y W H
//   rect ID               prints control ID's rectangle in the client area: rect ID X Y W H
//   screenshot FILE.png   saves the window as it is on the screen
//   close                 closes the window and waits until it is gone
//   wait-closed           waits until the window is gone
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <shlobj.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int list_id = 107;
constexpr int file_info_id = 109;
constexpr auto deadline = std::chrono::seconds(60);

std::wstring wide(const std::string& text) {
    std::wstring result(MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, result.data(),
                        static_cast<int>(result.size()));
    result.pop_back();
    return result;
}

std::string narrow(const std::wstring& text) {
    std::string result(
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, result.data(),
                        static_cast<int>(result.size()), nullptr, nullptr);
    result.pop_back();
    return result;
}

// Waits for `done` to hold, checking every 20 ms until the deadline.
template <class Done>
void wait_for(const std::string& what, Done done) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) throw std::runtime_error("no " + what);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string window_text(HWND window) {
    wchar_t text[4096];
    const LRESULT length = SendMessageW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text));
    return narrow(std::wstring(text, static_cast<size_t>(length)));
}

// Memory in the window's process, where the list view's messages look for their structures.
class RemoteMemory {
  public:
    RemoteMemory(HWND window, size_t size) : size_(size) {
        DWORD process_id = 0;
        GetWindowThreadProcessId(window, &process_id);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                               process_id);
        if (process_ == nullptr) throw std::runtime_error("no access to the window's process");
        at_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
        if (at_ == nullptr) throw std::runtime_error("no memory in the window's process");
    }
    ~RemoteMemory() {
        VirtualFreeEx(process_, at_, 0, MEM_RELEASE);
        CloseHandle(process_);
    }
    char* address() const { return static_cast<char*>(at_); }
    void write(const void* bytes, size_t size, size_t offset = 0) {
        WriteProcessMemory(process_, address() + offset, bytes, size, nullptr);
    }
    std::vector<char> read() const {
        std::vector<char> bytes(size_);
        ReadProcessMemory(process_, at_, bytes.data(), size_, nullptr);
        return bytes;
    }

  private:
    HANDLE process_ = nullptr;
    void* at_ = nullptr;
    size_t size_;
};

std::string cell_text(HWND list, int row, int column) {
    constexpr size_t room = 1024;
    RemoteMemory memory(list, sizeof(LVITEMW) + room * sizeof(wchar_t));
    LVITEMW cell{};
    cell.iSubItem = column;
    cell.cchTextMax = room;
    cell.pszText = reinterpret_cast<wchar_t*>(memory.address() + sizeof(LVITEMW));
    memory.write(&cell, sizeof cell);
    const LRESULT length =
        SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(memory.address()));
    const std::vector<char> bytes = memory.read();
    return narrow(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + sizeof(LVITEMW)),
                               static_cast<size_t>(length)));
}

void select_row(HWND list, int row) {
    RemoteMemory memory(list, sizeof(LVITEMW));
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = 0;
    memory.write(&state, sizeof state);
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                 reinterpret_cast<LPARAM>(memory.address()));
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    memory.write(&state, sizeof state);
    SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(memory.address()));
}

// Drops a file on the window as Explorer does: the list of names (DROPFILES, wide names each
// ended by a zero and the list by a second one) lies in the window's process.
void drop_file(HWND dialog, const std::string& path) {
    const std::wstring name = wide(path);
    std::vector<char> block(sizeof(DROPFILES) + (name.size() + 2) * sizeof(wchar_t), '\0');
    DROPFILES header{};
    header.pFiles = sizeof(DROPFILES);
    header.fWide = TRUE;
    std::memcpy(block.data(), &header, sizeof header);
    std::memcpy(block.data() + sizeof header, name.c_str(), name.size() * sizeof(wchar_t));
    RemoteMemory memory(dialog, block.size());
    memory.write(block.data(), block.size());
    SendMessageW(dialog, WM_DROPFILES, reinterpret_cast<WPARAM>(memory.address()), 0);
}

// The rows as `jx-cli info` prints entries: name, then type and size, then the File Info lines;
// the File Info text is the window's after the row is selected alone.
void print_rows(HWND dialog, int count) {
    HWND list = GetDlgItem(dialog, list_id);
    wait_for(std::to_string(count) + " rows in the list",
             [&] { return SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == count; });
    for (int row = 0; row < count; ++row) {
        select_row(list, row);
        std::printf("%s\n  Type: %s  Size: %s\n", cell_text(list, row, 0).c_str(),
                    cell_text(list, row, 2).c_str(), cell_text(list, row, 1).c_str());
        const std::string info = window_text(GetDlgItem(dialog, file_info_id));
        size_t start = 0;
        while (start < info.size()) {
            size_t end = info.find('\n', start);
            if (end == std::string::npos) end = info.size();
            std::printf("  %s\n", info.substr(start, end - start).c_str());
            start = end + 1;
        }
    }
}

uint32_t crc32(const unsigned char* bytes, size_t size, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t k = 0; k < size; ++k) {
        crc ^= bytes[k];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void put32(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(value >> shift);
}

void put_chunk(std::string& out, const char* type, const std::string& data) {
    put32(out, static_cast<uint32_t>(data.size()));
    std::string typed = std::string(type, 4) + data;
    out += typed;
    put32(out, crc32(reinterpret_cast<const unsigned char*>(typed.data()), typed.size()));
}

// An RGB picture as PNG, its pixel rows in uncompressed deflate blocks: no library needed.
void write_png(const std::string& path, int w, int h, const std::vector<uint8_t>& bgra) {
    std::string rows;
    for (int y = 0; y < h; ++y) {
        rows += '\0';  // no filter
        for (int x = 0; x < w; ++x) {
            const uint8_t* pixel = &bgra[(static_cast<size_t>(y) * w + x) * 4];
            rows += static_cast<char>(pixel[2]);
            rows += static_cast<char>(pixel[1]);
            rows += static_cast<char>(pixel[0]);
        }
    }
    std::string deflated = "\x78\x01";
    for (size_t at = 0; at < rows.size() || at == 0; at += 65535) {
        const size_t size = std::min<size_t>(65535, rows.size() - at);
        deflated += static_cast<char>(at + size >= rows.size() ? 1 : 0);
        deflated += static_cast<char>(size & 0xFF);
        deflated += static_cast<char>(size >> 8);
        deflated += static_cast<char>(~size & 0xFF);
        deflated += static_cast<char>((~size >> 8) & 0xFF);
        deflated += rows.substr(at, size);
    }
    uint32_t a = 1, b = 0;
    for (unsigned char c : rows) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    put32(deflated, (b << 16) | a);
    std::string header;
    put32(header, static_cast<uint32_t>(w));
    put32(header, static_cast<uint32_t>(h));
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB
    std::string png = "\x89PNG\r\n\x1a\n";
    put_chunk(png, "IHDR", header);
    put_chunk(png, "IDAT", deflated);
    put_chunk(png, "IEND", "");
    std::ofstream(path, std::ios::binary) << png;
}

// Waits until the window has painted all it has to paint: a window of another thread paints
// when its thread gets to it, and the screen shows the old picture until then.
void wait_painted(HWND dialog) {
    RedrawWindow(dialog, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    DWORD process_id = 0;
    GetWindowThreadProcessId(dialog, &process_id);
    if (HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, process_id)) {
        WaitForInputIdle(process, 10000);
        CloseHandle(process);
    }
    SendMessageW(dialog, WM_NULL, 0, 0);
}

void screenshot(HWND dialog, const std::string& path) {
    wait_painted(dialog);
    RECT at;
    GetWindowRect(dialog, &at);
    const int w = at.right - at.left, h = at.bottom - at.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, at.left, at.top, SRCCOPY);
    GdiFlush();
    const auto* bytes = static_cast<const uint8_t*>(bits);
    write_png(path, w, h, std::vector<uint8_t>(bytes, bytes + static_cast<size_t>(w) * h * 4));
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

}  // namespace

int main(int argc, char** argv) {
    // Lines end in LF alone, as the Linux side reads them.
    _setmode(_fileno(stdout), _O_BINARY);
    HWND dialog = nullptr;
    try {
        for (int k = 1; k < argc; ++k) {
            const std::string step = argv[k];
            auto arg = [&]() -> std::string {
                if (k + 1 >= argc) throw std::runtime_error(step + " needs an argument");
                return argv[++k];
            };
            if (step == "wait-window") {
                const std::wstring caption = wide(arg());
                wait_for("window '" + narrow(caption) + "'", [&] {
                    dialog = FindWindowW(nullptr, caption.c_str());
                    return dialog != nullptr && IsWindowVisible(dialog);
                });
            } else if (dialog == nullptr) {
                throw std::runtime_error(step + " before wait-window");
            } else if (step == "rows") {
                print_rows(dialog, std::stoi(arg()));
            } else if (step == "drop") {
                // Explorer drops only on a window that takes dropped files.
                if (!(GetWindowLongPtrW(dialog, GWL_EXSTYLE) & WS_EX_ACCEPTFILES))
                    throw std::runtime_error("the window takes no dropped files");
                drop_file(dialog, arg());
            } else if (step == "wait-rows") {
                const int count = std::stoi(arg());
                HWND list = GetDlgItem(dialog, list_id);
                wait_for(std::to_string(count) + " rows in the list",
                         [&] { return SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == count; });
            } else if (step == "command") {
                // A menu's command: no control sends it.
                PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(std::stoi(arg(), nullptr, 0), 0), 0);
            } else if (step == "set-text") {
                HWND control = GetDlgItem(dialog, std::stoi(arg()));
                SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide(arg()).c_str()));
            } else if (step == "select") {
                select_row(GetDlgItem(dialog, list_id), std::stoi(arg()));
            } else if (step == "wait-text") {
                HWND control = GetDlgItem(dialog, std::stoi(arg()));
                const std::string prefix = arg();
                wait_for("text '" + prefix + "'",
                         [&] { return window_text(control).starts_with(prefix); });
                std::printf("%s\n", window_text(control).c_str());
            } else if (step == "items") {
                HWND list = GetDlgItem(dialog, std::stoi(arg()));
                const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
                for (LRESULT row = 0; row < count; ++row) {
                    wchar_t text[1024] = {};
                    if (SendMessageW(list, LB_GETTEXTLEN, row, 0) < 1024)
                        SendMessageW(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(text));
                    std::printf("%s\n", narrow(text).c_str());
                }
            } else if (step == "text") {
                std::printf("%s\n", window_text(GetDlgItem(dialog, std::stoi(arg()))).c_str());
            } else if (step == "click") {
                const int id = std::stoi(arg());
                // Posted, as a click comes: a button that opens a dialog returns only once
                // that dialog is closed.
                PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
            } else if (step == "move") {
                int box[4];
                for (int& value : box) value = std::stoi(arg());
                SetWindowPos(dialog, nullptr, box[0], box[1], box[2], box[3], SWP_NOZORDER);
            } else if (step == "rect") {
                RECT at;
                GetWindowRect(GetDlgItem(dialog, std::stoi(arg())), &at);
                MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&at), 2);
                std::printf("rect %s %ld %ld %ld %ld\n", argv[k], at.left, at.top,
                            at.right - at.left, at.bottom - at.top);
            } else if (step == "placement") {
                RECT at;
                GetWindowRect(dialog, &at);
                std::printf("placement %ld %ld %ld %ld\n", at.left, at.top, at.right - at.left,
                            at.bottom - at.top);
            } else if (step == "screenshot") {
                screenshot(dialog, arg());
            } else if (step == "close" || step == "wait-closed") {
                if (step == "close") PostMessageW(dialog, WM_CLOSE, 0, 0);
                wait_for("end of the window", [&] { return !IsWindow(dialog); });
            } else {
                throw std::runtime_error("unknown step " + step);
            }
            std::fflush(stdout);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "window probe: %s\n", error.what());
        return 1;
    }
    return 0;
}
