#include "win/win_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>

#include "platform/os/wide_win.h"

namespace jx {

namespace {

constexpr UINT posted_work_message = WM_APP;
constexpr int icon_resource = 1;

void put_dword(std::vector<WORD>& words, DWORD value) {
    words.push_back(LOWORD(value));
    words.push_back(HIWORD(value));
}

void put_text(std::vector<WORD>& words, const std::string& text) {
    for (wchar_t c : to_wide(text)) words.push_back(static_cast<WORD>(c));
    words.push_back(0);
}

void put_box(std::vector<WORD>& words, int x, int y, int w, int h) {
    for (int value : {x, y, w, h}) words.push_back(static_cast<WORD>(static_cast<short>(value)));
}

struct ControlClass {
    const char* kind;
    const char* window_class;
    DWORD style;
};

const ControlClass control_classes[] = {
    {"button", "BUTTON", WS_TABSTOP},
    {"checkbox", "BUTTON", WS_TABSTOP},
    {"edit", "EDIT", WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL},
    {"static", "STATIC", SS_LEFT | SS_NOPREFIX},
    {"group", "BUTTON", BS_GROUPBOX},
    {"listview", "SysListView32", WS_TABSTOP | WS_BORDER | LVS_REPORT},
    {"listbox", "LISTBOX", WS_TABSTOP | WS_BORDER | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT},
    {"combo", "COMBOBOX", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST},
    {"progress", "msctls_progress32", 0},
};

// The window style of a control: its class's, then what its style words add.
DWORD control_style(const ControlTemplate& c, DWORD base) {
    DWORD style = WS_CHILD | WS_VISIBLE | base;
    if (c.kind == "button") style |= c.has("default") ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
    if (c.kind == "checkbox") style |= c.has("auto") ? BS_AUTOCHECKBOX : BS_CHECKBOX;
    if (c.has("notabstop")) style &= ~static_cast<DWORD>(WS_TABSTOP);
    if (c.has("disabled")) style |= WS_DISABLED;
    if (c.has("number")) style |= ES_NUMBER;
    if (c.has("readonly")) style |= ES_READONLY;
    if (c.has("centre")) style |= ES_CENTER;
    if (c.has("vscroll")) style |= WS_VSCROLL | LBS_DISABLENOSCROLL;
    if (c.has("smooth")) style |= PBS_SMOOTH;
    if (c.has("showselalways")) style |= LVS_SHOWSELALWAYS;
    if (c.has("nosortheader")) style |= LVS_NOSORTHEADER;
    if (c.kind == "listview" && !c.has("multiple")) style |= LVS_SINGLESEL;
    return style;
}

std::wstring filter_text(const std::vector<FileFilter>& filters) {
    std::wstring text;
    for (const FileFilter& filter : filters) {
        text += to_wide(filter.description);
        text += L'\0';
        text += to_wide(filter.pattern);
        text += L'\0';
    }
    text += L'\0';
    return text;
}

std::optional<FileDialogResult> run_file_dialog(HWND owner, const FileDialogRequest& request,
                                                bool save) {
    const std::wstring filters = filter_text(request.filters);
    const std::wstring extension = to_wide(request.default_extension);
    // Room for many names chosen at once: a folder and each name after it.
    std::vector<wchar_t> names(1 << 16, L'\0');
    std::wstring initial = to_wide(request.initial_name);
    std::replace(initial.begin(), initial.end(), L'/', L'\\');
    std::copy_n(initial.begin(), std::min(initial.size(), names.size() - 1), names.begin());

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filters.c_str();
    dialog.nFilterIndex = static_cast<DWORD>(std::max(request.filter_index, 1));
    dialog.lpstrFile = names.data();
    dialog.nMaxFile = static_cast<DWORD>(names.size());
    dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR;
    if (request.allow_multiple && !save) dialog.Flags |= OFN_ALLOWMULTISELECT;
    if (request.must_exist) dialog.Flags |= OFN_FILEMUSTEXIST;
    if (request.path_must_exist) dialog.Flags |= OFN_PATHMUSTEXIST;
    if (request.hide_read_only) dialog.Flags |= OFN_HIDEREADONLY;
    if (request.overwrite_prompt) dialog.Flags |= OFN_OVERWRITEPROMPT;
    if (!(save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog))) return std::nullopt;

    // One full path, or the folder followed by the names chosen in it, each ended by a zero and
    // the list by a second one.
    FileDialogResult result;
    result.filter_index = static_cast<int>(std::max<DWORD>(dialog.nFilterIndex, 1));
    for (const wchar_t* name = names.data(); *name != L'\0'; name += wcslen(name) + 1)
        result.names.push_back(from_wide(name, wcslen(name)));
    if (result.names.empty()) return std::nullopt;
    return result;
}

}  // namespace

std::optional<DialogTemplate> load_dialog_template(int template_id) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(template_id), MAKEINTRESOURCEW(10));
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (bytes == nullptr) return std::nullopt;
    return parse_dialog_template(std::string(bytes, SizeofResource(module, found)));
}

std::vector<WORD> dialog_template_words(const DialogTemplate& dialog) {
    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SHELLFONT;
    style |= dialog.has("sizing") ? WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX : DS_MODALFRAME;
    if (dialog.has("center")) style |= DS_CENTER;
    const DWORD extended = dialog.has("acceptfiles") ? WS_EX_ACCEPTFILES : 0;

    std::vector<WORD> words = {1, 0xFFFF};  // the extended template's version and signature
    put_dword(words, 0);                    // help id
    put_dword(words, extended);
    put_dword(words, style);
    size_t count_at = words.size();
    words.push_back(0);
    put_box(words, 0, 0, dialog.w, dialog.h);
    words.push_back(0);  // no menu
    words.push_back(0);  // the dialog class
    put_text(words, dialog.caption);
    // The system's dialog font at the template's size; the template's family names the same
    // plain sans-serif face in the words of other systems.
    words.push_back(static_cast<WORD>(dialog.font_points));
    words.push_back(FW_NORMAL);
    words.push_back(DEFAULT_CHARSET << 8);  // not italic; the character set
    put_text(words, "MS Shell Dlg");

    WORD count = 0;
    for (const ControlTemplate& c : dialog.controls) {
        const auto kind = std::find_if(std::begin(control_classes), std::end(control_classes),
                                       [&](const ControlClass& k) { return c.kind == k.kind; });
        if (kind == std::end(control_classes)) continue;
        if (words.size() % 2 != 0) words.push_back(0);  // every item starts on a double word
        put_dword(words, 0);                            // help id
        put_dword(words, c.kind == "listview" || c.kind == "listbox" ? WS_EX_CLIENTEDGE : 0);
        put_dword(words, control_style(c, kind->style));
        put_box(words, c.x, c.y, c.w, c.h);
        put_dword(words, static_cast<DWORD>(c.id < 0 ? 0xFFFF : c.id));
        put_text(words, kind->window_class);
        put_text(words, c.kind == "listview" ? std::string() : c.text);
        words.push_back(0);  // no creation data
        ++count;
    }
    words[count_at] = count;
    return words;
}

WinWindow::WinWindow(const DialogTemplate& dialog, DialogProcedure& procedure, HWND owner)
    : template_(dialog), procedure_(procedure), owner_(owner), thread_(GetCurrentThreadId()) {
    for (const ControlTemplate& c : dialog.controls)
        if (c.id >= 0) texts_[c.id] = c.text;
}

int WinWindow::run() {
    static const bool controls_registered = [] {
        INITCOMMONCONTROLSEX classes{sizeof classes, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
        return InitCommonControlsEx(&classes) != FALSE;
    }();
    (void)controls_registered;
    const std::vector<WORD> words = dialog_template_words(template_);
    const INT_PTR result = DialogBoxIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), owner_,
        dialog_proc, reinterpret_cast<LPARAM>(this));
    std::lock_guard lock(posted_mutex_);
    hwnd_ = nullptr;
    return result == -1 ? -1 : result_;
}

INT_PTR CALLBACK WinWindow::dialog_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, DWLP_USER, lparam);
        reinterpret_cast<WinWindow*>(lparam)->init(hwnd);
        return TRUE;
    }
    auto* window = reinterpret_cast<WinWindow*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    return window ? window->handle_message(message, wparam, lparam) : FALSE;
}

void WinWindow::init(HWND hwnd) {
    {
        std::lock_guard lock(posted_mutex_);
        hwnd_ = hwnd;
    }
    HDC screen = GetDC(hwnd_);
    dpi_ = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(hwnd_, screen);
    if (owner_ == nullptr) {
        HINSTANCE instance = GetModuleHandleW(nullptr);
        for (auto [which, metric] : {std::pair{ICON_BIG, SM_CXICON}, {ICON_SMALL, SM_CXSMICON}}) {
            const int size = GetSystemMetrics(metric);
            HANDLE icon = LoadImageW(instance, MAKEINTRESOURCEW(icon_resource), IMAGE_ICON, size,
                                     size, LR_DEFAULTCOLOR | LR_SHARED);
            if (icon) SendMessageW(hwnd_, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
        }
    }
    for (const ControlTemplate& c : template_.controls) {
        if (c.kind != "listview") continue;
        HWND list = item(c.id);
        ListView_SetExtendedListViewStyle(list, (c.has("fullrow") ? LVS_EX_FULLROWSELECT : 0) |
                                                    LVS_EX_LABELTIP | LVS_EX_DOUBLEBUFFER);
        const struct {
            const wchar_t* title;
            int width;
            int format;
        } columns[] = {{L"Filename", 410, LVCFMT_LEFT},
                       {L"Size", 50, LVCFMT_RIGHT},
                       {L"Type", 40, LVCFMT_LEFT}};
        for (int k = 0; k < 3; ++k) {
            LVCOLUMNW column{};
            column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
            column.fmt = columns[k].format;
            column.cx = columns[k].width;
            column.pszText = const_cast<wchar_t*>(columns[k].title);
            SendMessageW(list, LVM_INSERTCOLUMNW, k, reinterpret_cast<LPARAM>(&column));
        }
    }
    if (template_.has("acceptfiles")) DragAcceptFiles(hwnd_, TRUE);
    procedure_.init_dialog(*this);
    initialised_ = true;
    run_posted();
    // The layout of the size the window opens with, as every later size gets it.
    if (!ending_) {
        const Size client = client_size();
        procedure_.size(client.w, client.h);
    }
}

INT_PTR WinWindow::handle_message(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_COMMAND:
            command(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
            return TRUE;
        case WM_NOTIFY:
            return notify(*reinterpret_cast<const NMHDR*>(lparam));
        case WM_TIMER:
            procedure_.timer(static_cast<int>(wparam));
            return TRUE;
        case WM_CONTEXTMENU:
            context_menu(reinterpret_cast<HWND>(wparam), lparam);
            return TRUE;
        case WM_DROPFILES:
            files_dropped(reinterpret_cast<HDROP>(wparam));
            return TRUE;
        case WM_MOUSEMOVE:
            if (!captured_) return FALSE;
            procedure_.mouse_move(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
            return TRUE;
        case WM_LBUTTONUP:
            if (!captured_) return FALSE;
            procedure_.left_button_up();
            return TRUE;
        case WM_CAPTURECHANGED:
            // The capture taken away (another window came forward): the row drag ends there.
            if (captured_ && reinterpret_cast<HWND>(lparam) != hwnd_) {
                captured_ = false;
                procedure_.left_button_up();
            }
            return TRUE;
        case WM_SIZE:
            if (initialised_ && !ending_ && wparam != SIZE_MINIMIZED)
                procedure_.size(LOWORD(lparam), HIWORD(lparam));
            return TRUE;
        case WM_GETMINMAXINFO:
            if (minimum_.w > 0) {
                auto* limits = reinterpret_cast<MINMAXINFO*>(lparam);
                limits->ptMinTrackSize = {minimum_.w, minimum_.h};
            }
            return TRUE;
        case WM_DPICHANGED: {
            // The dialog manager scales the dialog and its fonts; the smallest size follows.
            const int to = HIWORD(wparam);
            if (dpi_ > 0 && minimum_.w > 0)
                minimum_ = {MulDiv(minimum_.w, to, dpi_), MulDiv(minimum_.h, to, dpi_)};
            dpi_ = to;
            return FALSE;
        }
        case WM_CLOSE:
            if (!ending_) procedure_.close_request();
            return TRUE;
        case WM_ENDSESSION:
            // The session ends: the window closes as its close box does, the list kept.
            if (wparam && !ending_) procedure_.close_request();
            return TRUE;
        case posted_work_message:
            run_posted();
            return TRUE;
        default:
            return FALSE;
    }
}

void WinWindow::command(int id, int code, HWND control) {
    if (control == nullptr) {
        const size_t entry = static_cast<size_t>(id - menu_command_base);
        if (id >= menu_command_base && entry < menu_.size()) {
            menu_[entry].action();
            return;
        }
        // Enter and Escape (IDOK, IDCANCEL) and accelerators: commands like a button's.
        procedure_.command(id);
        return;
    }
    if (is_kind(id, "edit") && code == EN_CHANGE) {
        wchar_t text[1024];
        const int length = GetWindowTextW(control, text, 1024);
        std::lock_guard lock(cache_mutex_);
        texts_[id] = from_wide(text, static_cast<size_t>(length));
    } else if ((is_kind(id, "button") || is_kind(id, "checkbox")) && code == BN_CLICKED) {
        if (is_kind(id, "checkbox")) {
            std::lock_guard lock(cache_mutex_);
            checks_[id] = IsDlgButtonChecked(hwnd_, id) == BST_CHECKED;
        }
        procedure_.command(id);
    }
}

bool WinWindow::notify(const NMHDR& header) {
    const int id = static_cast<int>(header.idFrom);
    switch (header.code) {
        case LVN_ITEMCHANGED: {
            const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
            if (showing_rows_ || !(change.uChanged & LVIF_STATE) ||
                !((change.uOldState ^ change.uNewState) & LVIS_SELECTED))
                return false;
            report_list_selection(id);
            procedure_.list_notify(id, ListNotify::item_changed, 0, false);
            return true;
        }
        case NM_CLICK:
            report_list_selection(id);
            procedure_.list_notify(id, ListNotify::click, 0, false);
            return true;
        case NM_DBLCLK:
            report_list_selection(id);
            procedure_.list_notify(id, ListNotify::double_click, 0, false);
            return true;
        case LVN_KEYDOWN: {
            const WORD key = reinterpret_cast<const NMLVKEYDOWN&>(header).wVKey;
            const int code = key == VK_DELETE           ? key_delete
                             : key >= 'A' && key <= 'Z' ? key
                                                        : other_key;
            report_list_selection(id);
            procedure_.list_notify(id, ListNotify::key_down, code, GetKeyState(VK_CONTROL) < 0);
            return true;
        }
        case LVN_BEGINDRAG:
            report_list_selection(id);
            procedure_.list_notify(id, ListNotify::begin_drag, 0, false);
            return true;
        default:
            return false;
    }
}

void WinWindow::add_menu_entry(int id, const std::string& text, std::function<void()> action) {
    menu_.push_back({id, text, std::move(action)});
}

void WinWindow::context_menu(HWND clicked, LPARAM at) {
    const int id = clicked == hwnd_ ? 0 : GetDlgCtrlID(clicked);
    const bool own = std::any_of(menu_.begin(), menu_.end(),
                                 [id](const MenuEntry& entry) { return entry.id == id; });
    HMENU menu = CreatePopupMenu();
    for (size_t k = 0; k < menu_.size(); ++k)
        if (menu_[k].id == (own ? id : 0))
            AppendMenuW(menu, MF_STRING, menu_command_base + k, to_wide(menu_[k].text).c_str());
    POINT point{GET_X_LPARAM(at), GET_Y_LPARAM(at)};
    if (at == -1) {  // from the keyboard: at the control's corner
        RECT corner;
        GetWindowRect(clicked, &corner);
        point = {corner.left, corner.top};
    }
    const int chosen = GetMenuItemCount(menu) > 0
                           ? TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x, point.y,
                                            0, hwnd_, nullptr)
                           : 0;
    DestroyMenu(menu);
    if (chosen >= menu_command_base)
        menu_[static_cast<size_t>(chosen - menu_command_base)].action();
}

bool WinWindow::is_kind(int id, const char* kind) const {
    return std::any_of(template_.controls.begin(), template_.controls.end(),
                       [&](const ControlTemplate& c) { return c.id == id && c.kind == kind; });
}

void WinWindow::files_dropped(HDROP drop) {
    std::vector<std::string> paths;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT k = 0; k < count; ++k) {
        std::wstring path(DragQueryFileW(drop, k, nullptr, 0), L'\0');
        DragQueryFileW(drop, k, path.data(), static_cast<UINT>(path.size() + 1));
        paths.push_back(from_wide(path));
    }
    DragFinish(drop);
    procedure_.files_dropped(paths);
}

void WinWindow::report_list_selection(int id) {
    HWND list = item(id);
    const int count = ListView_GetItemCount(list);
    std::vector<bool> selected(static_cast<size_t>(std::max(count, 0)));
    for (int k = 0; k < count; ++k)
        selected[static_cast<size_t>(k)] = ListView_GetItemState(list, k, LVIS_SELECTED) != 0;
    procedure_.list_selection(id, selected, ListView_GetNextItem(list, -1, LVNI_FOCUSED));
}

void WinWindow::run_posted() {
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard lock(posted_mutex_);
            if (posted_.empty() || !initialised_) return;
            work = std::move(posted_.front());
            posted_.pop_front();
        }
        work();
    }
}

void WinWindow::post(std::function<void()> work) {
    std::lock_guard lock(posted_mutex_);
    posted_.push_back(std::move(work));
    if (hwnd_ != nullptr) PostMessageW(hwnd_, posted_work_message, 0, 0);
}

void WinWindow::on_window(std::function<void()> work) {
    if (GetCurrentThreadId() == thread_ && hwnd_ != nullptr)
        work();
    else
        post(std::move(work));
}

void WinWindow::set_text(int id, const std::string& text) {
    {
        std::lock_guard lock(cache_mutex_);
        texts_[id] = text;
    }
    on_window([this, id, text] { SetDlgItemTextW(hwnd_, id, to_wide(text).c_str()); });
}

std::string WinWindow::text(int id) const {
    std::lock_guard lock(cache_mutex_);
    auto it = texts_.find(id);
    return it == texts_.end() ? std::string() : it->second;
}

void WinWindow::enable(int id, bool enabled) {
    on_window([this, id, enabled] { EnableWindow(item(id), enabled); });
}

bool WinWindow::is_enabled(int id) const {
    HWND control = hwnd_ ? item(id) : nullptr;
    return control == nullptr || IsWindowEnabled(control);
}

void WinWindow::check(int id, bool checked) {
    {
        std::lock_guard lock(cache_mutex_);
        checks_[id] = checked;
    }
    on_window(
        [this, id, checked] { CheckDlgButton(hwnd_, id, checked ? BST_CHECKED : BST_UNCHECKED); });
}

bool WinWindow::is_checked(int id) const {
    std::lock_guard lock(cache_mutex_);
    auto it = checks_.find(id);
    return it != checks_.end() && it->second;
}

void WinWindow::message_box(const std::string& text, const std::string& caption, MessageIcon icon) {
    on_window([this, text, caption, icon] {
        MessageBoxW(hwnd_, to_wide(text).c_str(), to_wide(caption).c_str(),
                    MB_OK | (icon == MessageIcon::exclamation ? MB_ICONEXCLAMATION : 0));
    });
}

std::optional<FileDialogResult> WinWindow::open_file_dialog(const FileDialogRequest& request) {
    return run_file_dialog(hwnd_, request, false);
}

std::optional<FileDialogResult> WinWindow::save_file_dialog(const FileDialogRequest& request) {
    return run_file_dialog(hwnd_, request, true);
}

void WinWindow::set_list_rows(int id, const std::vector<ListRow>& rows) {
    on_window([this, id, rows] {
        HWND list = item(id);
        if (list == nullptr) return;
        showing_rows_ = true;
        std::vector<ListRow>& shown = shown_rows_[id];
        const int count = static_cast<int>(rows.size());
        for (int k = ListView_GetItemCount(list); k > count;) ListView_DeleteItem(list, --k);
        for (int k = ListView_GetItemCount(list); k < count; ++k) {
            LVITEMW row{};
            row.mask = LVIF_TEXT;
            row.iItem = k;
            row.pszText = const_cast<wchar_t*>(L"");
            SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&row));
        }
        shown.resize(rows.size());
        for (int k = 0; k < count; ++k) {
            const ListRow& row = rows[static_cast<size_t>(k)];
            const ListRow& was = shown[static_cast<size_t>(k)];
            for (size_t column = 0; column < 3 && column < row.cells.size(); ++column) {
                if (column < was.cells.size() && was.cells[column] == row.cells[column]) continue;
                std::wstring text = to_wide(row.cells[column]);
                LVITEMW cell{};
                cell.iSubItem = static_cast<int>(column);
                cell.pszText = text.data();
                SendMessageW(list, LVM_SETITEMTEXTW, k, reinterpret_cast<LPARAM>(&cell));
            }
            const UINT state = (row.selected ? LVIS_SELECTED : 0) |
                               (row.focused ? LVIS_FOCUSED : 0) |
                               (row.drop_highlighted ? LVIS_DROPHILITED : 0);
            ListView_SetItemState(list, k, state, LVIS_SELECTED | LVIS_FOCUSED | LVIS_DROPHILITED);
        }
        shown = rows;
        showing_rows_ = false;
    });
}

void WinWindow::set_column_width(int id, int column, int width) {
    on_window([this, id, column, width] {
        ListView_SetColumnWidth(item(id), column, std::max(width, 0));
    });
}

int WinWindow::list_row_at(int id, int x, int y) const {
    HWND list = item(id);
    if (list == nullptr) return -1;
    LVHITTESTINFO hit{};
    hit.pt = {x, y};
    MapWindowPoints(hwnd_, list, &hit.pt, 1);
    RECT inside;
    GetClientRect(list, &inside);
    if (!PtInRect(&inside, hit.pt)) return -1;
    const int row = ListView_HitTest(list, &hit);
    return row >= 0 && (hit.flags & LVHT_ONITEM) ? row : -1;
}

void WinWindow::add_string(int id, const std::string& text) {
    const bool combo = is_kind(id, "combo");
    SendMessageW(item(id), combo ? CB_ADDSTRING : LB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(to_wide(text).c_str()));
}

void WinWindow::select_index(int id, int index) {
    const bool combo = is_kind(id, "combo");
    SendMessageW(item(id), combo ? CB_SETCURSEL : LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int WinWindow::selected_index(int id) const {
    const bool combo = is_kind(id, "combo");
    const LRESULT index = SendMessageW(item(id), combo ? CB_GETCURSEL : LB_GETCURSEL, 0, 0);
    return index < 0 ? -1 : static_cast<int>(index);
}

void WinWindow::set_progress(int id, int position) {
    on_window([this, id, position] { SendMessageW(item(id), PBM_SETPOS, position, 0); });
}

void WinWindow::start_timer(int id, int period_ms) {
    on_window([this, id, period_ms] {
        SetTimer(hwnd_, static_cast<UINT_PTR>(id), static_cast<UINT>(period_ms), nullptr);
    });
}

void WinWindow::stop_timer(int id) {
    on_window([this, id] { KillTimer(hwnd_, static_cast<UINT_PTR>(id)); });
}

DialogUnits WinWindow::dialog_units() const {
    RECT units{0, 0, 4, 8};
    if (hwnd_ == nullptr || !MapDialogRect(hwnd_, &units)) return {};
    return {units.right, units.bottom};
}

void WinWindow::move_control(int id, int x, int y) {
    SetWindowPos(item(id), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void WinWindow::size_control(int id, int w, int h) {
    SetWindowPos(item(id), nullptr, 0, 0, std::max(w, 0), std::max(h, 0),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

Rect WinWindow::control_rect(int id) const {
    RECT at;
    HWND control = item(id);
    if (control == nullptr || !GetWindowRect(control, &at)) return {};
    MapWindowPoints(HWND_DESKTOP, hwnd_, reinterpret_cast<POINT*>(&at), 2);
    return {at.left, at.top, at.right - at.left, at.bottom - at.top};
}

Rect WinWindow::outer_rect() const {
    RECT at;
    if (hwnd_ == nullptr || !GetWindowRect(hwnd_, &at)) return {};
    return {at.left, at.top, at.right - at.left, at.bottom - at.top};
}

void WinWindow::set_outer_rect(const Rect& rect) {
    SetWindowPos(hwnd_, nullptr, rect.x, rect.y, std::max(rect.w, minimum_.w),
                 std::max(rect.h, minimum_.h), SWP_NOZORDER | SWP_NOACTIVATE);
}

Size WinWindow::client_size() const {
    RECT inside;
    if (hwnd_ == nullptr || !GetClientRect(hwnd_, &inside)) return {};
    return {inside.right, inside.bottom};
}

Size WinWindow::screen_size() const {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &monitor)) return {};
    return {monitor.rcMonitor.right - monitor.rcMonitor.left,
            monitor.rcMonitor.bottom - monitor.rcMonitor.top};
}

void WinWindow::set_minimum_size(const Size& size) {
    minimum_ = size;
}

void WinWindow::capture_mouse() {
    captured_ = true;
    SetCapture(hwnd_);
}

void WinWindow::release_mouse() {
    captured_ = false;
    if (GetCapture() == hwnd_) ReleaseCapture();
}

int WinWindow::run_dialog(int template_id, DialogProcedure& procedure) {
    const auto dialog = load_dialog_template(template_id);
    return dialog ? run_dialog(*dialog, procedure) : -1;
}

int WinWindow::run_dialog(const DialogTemplate& dialog, DialogProcedure& procedure) {
    WinWindow window(dialog, procedure, hwnd_);
    return window.run();
}

void WinWindow::end_dialog(int result) {
    ending_ = true;
    result_ = result;
    if (hwnd_ != nullptr) EndDialog(hwnd_, result);
}

}  // namespace jx
