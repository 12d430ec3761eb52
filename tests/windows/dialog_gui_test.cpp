// Drives Pellucor.exe as a user would: starts it on a scratch repository, finds the dialog by
// its caption and checks it control by control, presses Start, reads the status list and the
// final message box, and closes it before, during and after a run.
//   dialog_gui_tests PELLUCOR.EXE [gtest options]
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/main_dialog.h"
#include "pellucor_version.h"
#include "test_support.h"
#include "user_config_tree.h"

using namespace app;

namespace {

namespace fs = std::filesystem;
using testing_support::ScratchDir;

std::string g_program;
const fs::path kData = fs::path(__FILE__).parent_path().parent_path() / "data";
constexpr auto kPatience = std::chrono::seconds(60);  // only for a program that hangs

template <typename Condition>
bool WaitFor(Condition condition) {
    const auto limit = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        Sleep(20);
    }
    return true;
}

bool UnderWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

// Under Wine: the dialog's font and the caption's glyphs come from Wine's own fonts, which this
// Wine finds only in the prefix's Fonts folder; and with no window manager on the display
// (Xvfb) Wine must draw the caption itself. Both are set for Pellucor.exe alone.
void PrepareWinePrefix() {
    if (!UnderWine()) return;
    char fonts[MAX_PATH];
    GetWindowsDirectoryA(fonts, MAX_PATH);
    std::error_code ignored;
    const fs::path target = fs::path(fonts) / "Fonts";
    for (const auto& entry : fs::directory_iterator("Z:\\usr\\share\\wine\\fonts", ignored)) {
        const fs::path copy = target / entry.path().filename();
        if (fs::exists(copy, ignored)) continue;
        // This process listed the fonts when it started: a font copied now is made known to it
        // too, or its twin of the dialog would measure with another font than the program's.
        if (fs::copy_file(entry.path(), copy, ignored)) AddFontResourceExA(copy.string().c_str(), FR_PRIVATE, nullptr);
    }
    HKEY key;
    if (RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\Pellucor.exe\\X11 Driver", &key) ==
        ERROR_SUCCESS) {
        RegSetValueExA(key, "Decorated", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
        RegCloseKey(key);
    }
}

// One run of Pellucor.exe.
class Program {
public:
    explicit Program(const std::string& commandLine) {
        std::string line = "\"" + g_program + "\" " + commandLine;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        started_ = CreateProcessA(g_program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &startup, &process_) != FALSE;
    }
    ~Program() {
        if (!started_) return;
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 99);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return started_; }
    HANDLE process() const { return process_.hProcess; }
    bool Running() const { return started_ && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

    // A top-level window of this process with `caption`, or null once patience runs out.
    HWND FindWindowNamed(const char* caption) const {
        HWND found = nullptr;
        WaitFor([&] {
            found = nullptr;
            for (HWND w = FindWindowExA(nullptr, nullptr, "#32770", caption); w && !found;
                 w = FindWindowExA(nullptr, w, "#32770", caption)) {
                DWORD pid = 0;
                GetWindowThreadProcessId(w, &pid);
                if (pid == process_.dwProcessId && IsWindowVisible(w)) found = w;
            }
            return found != nullptr || !Running();
        });
        return found;
    }

    // The exit code once the process has ended; -1 when it does not end.
    int64_t ExitCode() const {
        if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(kPatience.count() * 1000)) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

private:
    PROCESS_INFORMATION process_{};
    bool started_ = false;
};

std::string WindowText(HWND window) {
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ClassOf(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

// The status list's lines. Asked for in wide characters: across processes this Wine hands a
// list's text over unconverted when the list's style does not say it holds strings.
std::vector<std::string> StatusLines(HWND dialog) {
    HWND list = GetDlgItem(dialog, kStatusListId);
    std::vector<std::string> lines;
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, i, 0);
        std::wstring wide(static_cast<size_t>(length < 0 ? 0 : length) + 1, L'\0');
        const LRESULT copied = SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide.data()));
        wide.resize(static_cast<size_t>(copied < 0 ? 0 : copied));
        std::string line(wide.size() * 2 + 1, '\0');
        const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), line.data(),
                                              static_cast<int>(line.size()), nullptr, nullptr);
        line.resize(static_cast<size_t>(bytes < 0 ? 0 : bytes));
        lines.push_back(line);
    }
    return lines;
}

LRESULT StatusCount(HWND dialog) { return SendMessageA(GetDlgItem(dialog, kStatusListId), LB_GETCOUNT, 0, 0); }

void Click(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

// The caption's close box, as the system sends it.
void PressCloseBox(HWND window) { PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0); }

// Saves what the screen shows of `window` as a bitmap file.
bool SaveScreenshot(HWND window, const std::string& path) {
    RECT r;
    if (!GetWindowRect(window, &r)) return false;
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD rowBytes = static_cast<DWORD>((width * 3 + 3) & ~3);
    std::vector<char> pixels(rowBytes * static_cast<DWORD>(height));
    const int rows = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                               reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (rows != height) return false;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    return static_cast<bool>(out);
}

// A repository whose users folder holds `ids`; each has a word processor's summary unless it is
// in `withoutSummary`.
void MakeRepository(const fs::path& repository, const std::vector<std::string>& ids,
                    const std::vector<std::string>& withoutSummary = {}) {
    fs::create_directories(repository / "users");
    const char* fixtures[] = {"libreoffice_erin.rtf", "pandoc_dave.rtf"};
    size_t n = 0;
    for (const std::string& id : ids) {
        fs::create_directories(repository / "users" / id);
        if (std::find(withoutSummary.begin(), withoutSummary.end(), id) == withoutSummary.end())
            fs::copy_file(kData / fixtures[n++ % 2], repository / "users" / id / "UserSummary.rtf");
    }
}

// The lines a run over `repository` shows, in the order the system lists the users folder.
std::vector<std::string> ExpectedLines(const fs::path& repository) {
    std::vector<std::string> lines;
    for (const std::string& id : testing_support::SystemListing((repository / "users" / "*.*").string())) {
        lines.push_back("Processing user ID \"" + id + "\"...");
        const fs::path summary = repository / "users" / id / "UserSummary.rtf";
        if (!fs::exists(summary))
            lines.push_back("ERROR - Cannot open summary file \"" + summary.string() + "\" repair is incomplete.");
    }
    return lines;
}

std::vector<std::string> ClientAccounts(const fs::path& database) {
    std::vector<std::string> accounts;
    const std::string prefix = "User Configuration Root\\Client List\\";
    for (const auto& key : testing_support::ReadDatabaseTree(database.string()))
        if (key.path.rfind(prefix, 0) == 0 && key.path.find('\\', prefix.size()) == std::string::npos)
            accounts.push_back(key.path.substr(prefix.size()));
    return accounts;
}

// One control of template 108, as the template gives it.
struct ExpectedControl {
    int id;
    const char* className;
    std::string text;
    RECT units;  // x, y, width, height in dialog units
    DWORD style;
};

class DialogGuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        char display[256];
        if (GetEnvironmentVariableA("DISPLAY", display, sizeof display) == 0)
            GTEST_SKIP() << "no display (DISPLAY is not set): the dialog needs one; run the suite under xvfb-run";
        PrepareWinePrefix();
    }

    HWND StartedDialog(Program& program) {
        EXPECT_TRUE(program.started()) << g_program;
        HWND dialog = program.FindWindowNamed(kDialogCaption);
        EXPECT_NE(dialog, nullptr) << "no dialog captioned \"" << kDialogCaption << "\"";
        return dialog;
    }

    // Presses Start and returns the final message box once it is shown.
    HWND StartAndAwaitMessage(Program& program, HWND dialog, const std::function<void()>& whileRunning = {}) {
        Click(GetDlgItem(dialog, kStartId));
        if (whileRunning) whileRunning();
        HWND box = program.FindWindowNamed("Server UserConfig Data Restored");
        EXPECT_NE(box, nullptr) << "no completion message box";
        return box;
    }

    static std::string MessageText(HWND box) {
        char text[256] = "";
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        return text;
    }

    static void Dismiss(HWND box) { Click(GetDlgItem(box, IDOK)); }

    ScratchDir scratch;
    fs::path repository = scratch.path() / "Orvane Data" / "repository";
};

// Template 108 as the program carries it, read field by field.
struct TemplateItem {
    DWORD style;
    int x, y, cx, cy;
    int id;
    std::string className;
    std::string text;
};
struct DialogTemplate {
    DWORD style = 0;
    int x = -1, y = -1, cx = 0, cy = 0;
    std::string caption;
    int pointSize = 0;
    std::string font;
    std::vector<TemplateItem> items;
};

class TemplateReader {
public:
    explicit TemplateReader(const WORD* at) : at_(at) {}
    WORD Word() { return *at_++; }
    DWORD Dword() {
        const DWORD low = Word();
        return low | static_cast<DWORD>(Word()) << 16;
    }
    int Short() { return static_cast<short>(Word()); }
    std::string Text() {
        std::string text;
        while (WORD c = Word()) text += static_cast<char>(c);
        return text;
    }
    // A name or, after 0xFFFF, a number; the dialog manager's predefined classes go by number.
    std::string NameOrNumber() {
        if (*at_ != 0xFFFF) return Text();
        Word();
        switch (const WORD n = Word()) {
        case 0x80: return "Button";
        case 0x82: return "Static";
        case 0x83: return "ListBox";
        default: return "#" + std::to_string(n);
        }
    }
    void AlignToDword() {
        if (reinterpret_cast<uintptr_t>(at_) % 4) ++at_;
    }

private:
    const WORD* at_;
};

DialogTemplate ReadTemplate(const void* resource) {
    TemplateReader in(static_cast<const WORD*>(resource));
    DialogTemplate t;
    t.style = in.Dword();
    in.Dword();  // extended style
    const int count = in.Word();
    t.x = in.Short();
    t.y = in.Short();
    t.cx = in.Short();
    t.cy = in.Short();
    in.NameOrNumber();  // menu
    in.NameOrNumber();  // class
    t.caption = in.Text();
    if (t.style & DS_SETFONT) {
        t.pointSize = in.Word();
        t.font = in.Text();
    }
    for (int i = 0; i < count; ++i) {
        in.AlignToDword();
        TemplateItem item{};
        item.style = in.Dword();
        in.Dword();
        item.x = in.Short();
        item.y = in.Short();
        item.cx = in.Short();
        item.cy = in.Short();
        item.id = in.Word();
        item.className = in.NameOrNumber();
        item.text = in.NameOrNumber();
        const WORD extra = in.Word();
        for (WORD b = 0; b < extra; b += 2) in.Word();
        t.items.push_back(item);
    }
    return t;
}

INT_PTR CALLBACK InertDialog(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

// Template 108 made into a hidden dialog of this process, from the program's own resources.
// Dialog units and fonts belong to their process: MapDialogRect and the font's metrics are
// asked of this twin, which has the same font and so the same base units.
class TemplateTwin {
public:
    TemplateTwin() {
        InitCommonControls();
        module_ = LoadLibraryExA(g_program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        HRSRC found = module_ ? FindResourceA(module_, MAKEINTRESOURCEA(kMainDialogTemplate), RT_DIALOG) : nullptr;
        if (!found) return;
        const void* resource = LockResource(LoadResource(module_, found));
        template_ = ReadTemplate(resource);
        window_ = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), static_cast<const DLGTEMPLATE*>(resource),
                                             nullptr, &InertDialog, 0);
    }
    ~TemplateTwin() {
        if (window_) DestroyWindow(window_);
        if (module_) FreeLibrary(module_);
    }
    TemplateTwin(const TemplateTwin&) = delete;
    TemplateTwin& operator=(const TemplateTwin&) = delete;

    HWND window() const { return window_; }
    const DialogTemplate& resource() const { return template_; }
    RECT ToPixels(RECT units) const {
        MapDialogRect(window_, &units);
        return units;
    }

private:
    HMODULE module_ = nullptr;
    HWND window_ = nullptr;
    DialogTemplate template_;
};

// The control's place in the dialog's client area as x, y, width and height, the form in which
// the dialog manager converts each of the template's four numbers on its own.
RECT PlaceIn(HWND dialog, HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

// The style as the template gave it: for a dialog with the 3-D look the dialog manager turns a
// control's border into a sunken client edge.
// What the running control keeps of its template style. The system manages some bits itself:
// for a dialog with the 3-D look a border becomes a sunken edge (which the progress bar then
// draws its own way), and a list box shows its scroll bar only while its lines need it.
DWORD LiveStyle(HWND control) {
    return static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE)) & ~(WS_BORDER | WS_VSCROLL);
}

std::string Describe(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + " - " + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

// Whether `text` fits the control's client area in the control's own font, wrapped as a static
// wraps it.
bool TextFits(HWND control, const std::string& text, std::string* why) {
    RECT client;
    GetClientRect(control, &client);
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
    RECT needed = client;
    DrawTextA(dc, text.c_str(), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    *why = "needs " + Describe(needed) + " in " + Describe(client);
    return needed.right <= client.right && needed.bottom <= client.bottom;
}

TEST_F(DialogGuiTest, ShowsTemplate108AndRunsARebuild) {
    MakeRepository(repository, {"00000002", "00000003", "00000007"}, {"00000007"});
    const std::string path = repository.string();
    Program program(path);
    HWND dialog = StartedDialog(program);
    ASSERT_NE(dialog, nullptr);

    // The dialog itself: caption, style, font, size, centred on the work area.
    EXPECT_EQ(WindowText(dialog), kDialogCaption);
    const DWORD style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
    const DWORD dialogStyle = DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    // The system adds the visible bit, sibling clipping and the 3-D look of its own.
    EXPECT_EQ(style & ~(WS_VISIBLE | WS_CLIPSIBLINGS | DS_3DLOOK), dialogStyle) << std::hex << style;
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), nullptr) << "the dialog has no owner";
    const TemplateTwin twin;
    ASSERT_NE(twin.window(), nullptr) << "template 108 cannot be made into a dialog";
    const DialogTemplate& resource = twin.resource();
    EXPECT_EQ(resource.style, dialogStyle) << std::hex << resource.style;
    EXPECT_EQ(resource.caption, kDialogCaption);
    EXPECT_EQ(resource.font, "MS Sans Serif");
    EXPECT_EQ(resource.pointSize, 8);
    EXPECT_EQ(Describe({resource.x, resource.y, resource.cx, resource.cy}), Describe({0, 0, 318, 183}));
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(twin.window(), WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(font.lfHeight, -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72)) << "8 points";
    ReleaseDC(nullptr, screen);
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_EQ(Describe(client), Describe(twin.ToPixels({0, 0, 318, 183})));
    RECT frame, work;
    GetWindowRect(dialog, &frame);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const ScreenRect workArea{work.left, work.top, work.right, work.bottom};
    int32_t x = 0, y = 0;
    CentredPosition(frame.right - frame.left, frame.bottom - frame.top, workArea, workArea, &x, &y);
    EXPECT_EQ(frame.left, x);
    EXPECT_EQ(frame.top, y);

    // Every control, in template order.
    const DWORD child = WS_CHILD | WS_VISIBLE;
    const std::vector<ExpectedControl> controls = {
        {0xFFFF, "Static", kPathLabelText, {7, 43, 76, 8}, child | SS_LEFT | WS_GROUP},
        {kProgressBarId, "msctls_progress32", "Progress1", {7, 89, 304, 10}, child | WS_BORDER},
        {kStatusListId, "ListBox", "", {7, 103, 304, 73},
         child | WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT},
        {kRepositoryPathId, "Static", path, {7, 56, 304, 10}, child | SS_SUNKEN | WS_GROUP},
        {kStartId, "Button", "Start", {7, 71, 59, 14}, child | BS_PUSHBUTTON | WS_TABSTOP},
        {kBrowseId, "Button", "Browse...", {261, 71, 50, 14}, child | BS_PUSHBUTTON | WS_TABSTOP},
        {0xFFFF, "Static", kIntroText, {7, 7, 304, 8}, child | SS_LEFT | WS_GROUP},
        {0xFFFF, "Static", kExplanationText, {7, 20, 304, 17}, child | SS_LEFT | WS_GROUP},
    };
    ASSERT_EQ(resource.items.size(), controls.size());
    HWND control = GetWindow(dialog, GW_CHILD);
    HWND twinControl = GetWindow(twin.window(), GW_CHILD);
    for (size_t i = 0; i < controls.size(); ++i) {
        const ExpectedControl& expected = controls[i];
        const TemplateItem& item = resource.items[i];
        SCOPED_TRACE(expected.text);
        // As the template holds it.
        EXPECT_EQ(item.id, expected.id);
        EXPECT_EQ(lstrcmpiA(item.className.c_str(), expected.className), 0) << item.className << ": class names are case-free";
        EXPECT_EQ(item.text, expected.id == kRepositoryPathId ? "Database Name" : expected.text);
        EXPECT_EQ(Describe({item.x, item.y, item.cx, item.cy}), Describe(expected.units));
        EXPECT_EQ(item.style, expected.style) << std::hex << item.style;
        // As the running dialog shows it.
        ASSERT_NE(control, nullptr) << "fewer controls than the template has";
        EXPECT_EQ(GetDlgCtrlID(control) & 0xFFFF, expected.id);
        EXPECT_EQ(ClassOf(control), expected.className);
        EXPECT_EQ(WindowText(control), expected.text);
        EXPECT_EQ(LiveStyle(control), expected.style & ~(WS_BORDER | WS_VSCROLL)) << std::hex << LiveStyle(control);
        EXPECT_EQ(Describe(PlaceIn(dialog, control)), Describe(twin.ToPixels(expected.units)));
        std::string why;
        if (expected.className == std::string("Static")) {
            EXPECT_TRUE(TextFits(twinControl, expected.text, &why)) << why;
        }
        control = GetWindow(control, GW_HWNDNEXT);
        twinControl = GetWindow(twinControl, GW_HWNDNEXT);
    }
    EXPECT_EQ(control, nullptr) << "more controls than the template has";

    // The focus starts on the first tab stop, the status list; the bar's range is 0 to 100.
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &thread);
    EXPECT_EQ(thread.hwndFocus, GetDlgItem(dialog, kStatusListId));
    HWND bar = GetDlgItem(dialog, kProgressBarId);
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, TRUE, 0), 0);
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 100);

    // The run.
    HWND box = StartAndAwaitMessage(program, dialog);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(GetWindow(box, GW_OWNER), dialog) << "the message box is owned by the dialog";
    EXPECT_EQ(MessageText(box), "Database Restoration Complete");
    EXPECT_EQ(StatusLines(dialog), ExpectedLines(repository));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, kStartId)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, kBrowseId)));
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 0) << "the run never moves the bar";
    Dismiss(box);

    // After the run Start and Browse stay disabled; the picture is kept for people to look at.
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(box); }));
    Sleep(300);  // the dialog repaints where the box was
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, kStartId)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, kBrowseId)));
    EXPECT_TRUE(SaveScreenshot(dialog, "pellucor-dialog.bmp"));
    PressCloseBox(dialog);
    EXPECT_EQ(program.ExitCode(), 0);

    std::vector<std::string> accounts = ClientAccounts(repository / "UserConfig.hdb");
    std::sort(accounts.begin(), accounts.end());
    EXPECT_EQ(accounts, (std::vector<std::string>{"00000002", "00000003"})) << "the user without a summary has none";
    EXPECT_FALSE(fs::exists(repository / "UserConfig.hdb.mirror"));
}

TEST_F(DialogGuiTest, CloseDuringARunEndsOnlyAfterTheRun) {
    std::vector<std::string> ids;
    for (int i = 1; i <= 400; ++i) {
        char id[9];
        std::snprintf(id, sizeof id, "%08x", i);
        ids.push_back(id);
    }
    MakeRepository(repository, ids);
    Program program(repository.string());
    HWND dialog = StartedDialog(program);
    ASSERT_NE(dialog, nullptr);

    // Close as soon as the first line shows that the run is going. The run cannot end before
    // its message box is dismissed, so the close always meets a running worker.
    HWND box = StartAndAwaitMessage(program, dialog, [&] {
        ASSERT_TRUE(WaitFor([&] { return StatusCount(dialog) > 0; }));
        PressCloseBox(dialog);
    });
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(IsWindow(dialog)) << "the dialog waits for the run";
    EXPECT_EQ(StatusCount(dialog), static_cast<LRESULT>(ids.size())) << "every line reached the list while waiting";
    EXPECT_TRUE(GetWindowLongA(GetDlgItem(dialog, kStatusListId), GWL_STYLE) & WS_VSCROLL)
        << "a full list shows its scroll bar";
    EXPECT_EQ(MessageText(box), "Database Restoration Complete");
    Dismiss(box);
    EXPECT_EQ(program.ExitCode(), 0) << "the dialog ends once the run has";
    EXPECT_EQ(ClientAccounts(repository / "UserConfig.hdb").size(), ids.size());
    EXPECT_FALSE(fs::exists(repository / "UserConfig.hdb.mirror")) << "the database was closed cleanly";
}

TEST_F(DialogGuiTest, CloseBeforeStartExitsAtOnce) {
    MakeRepository(repository, {"00000002"});
    Program program(repository.string());
    HWND dialog = StartedDialog(program);
    ASSERT_NE(dialog, nullptr);
    PressCloseBox(dialog);
    EXPECT_EQ(program.ExitCode(), 0);
    EXPECT_FALSE(fs::exists(repository / "UserConfig.hdb")) << "nothing was written";
}

// The program file: the icon the shell shows, its version and its manifest.
TEST(DialogProgramResources, IconVersionAndManifest) {
    HMODULE module = LoadLibraryExA(g_program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);

#pragma pack(push, 2)
    struct IconEntry {
        BYTE width, height, colours, reserved;
        WORD planes, bitCount;
        DWORD bytes;
        WORD id;
    };
    struct IconGroup {
        WORD reserved, type, count;
        IconEntry entries[8];
    };
#pragma pack(pop)
    HRSRC group = FindResourceA(module, MAKEINTRESOURCEA(100), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    const auto* icons = static_cast<const IconGroup*>(LockResource(LoadResource(module, group)));
    ASSERT_NE(icons, nullptr);
    std::vector<std::string> sizes;
    for (WORD i = 0; i < icons->count && i < 8; ++i)
        sizes.push_back(std::to_string(icons->entries[i].width) + "x" + std::to_string(icons->entries[i].height) + "x" +
                        std::to_string(icons->entries[i].bitCount));
    EXPECT_EQ(sizes, (std::vector<std::string>{"32x32x4", "16x16x4"})) << "32 and 16 pixels, 16 colours";

    HRSRC manifest = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
    ASSERT_NE(manifest, nullptr);
    const std::string xml(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                          SizeofResource(module, manifest));
    EXPECT_NE(xml.find("<requestedExecutionLevel level=\"requireAdministrator\""), std::string::npos)
        << "a requested level turns file virtualization off";
    FreeLibrary(module);

    DWORD ignored = 0;
    std::vector<char> version(GetFileVersionInfoSizeA(g_program.c_str(), &ignored));
    ASSERT_FALSE(version.empty());
    ASSERT_TRUE(GetFileVersionInfoA(g_program.c_str(), 0, static_cast<DWORD>(version.size()), version.data()));
    char* name = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(version.data(), "\\StringFileInfo\\040904B0\\OriginalFilename",
                               reinterpret_cast<void**>(&name), &length));
    EXPECT_STREQ(name, "Pellucor.exe");
    // The version the packages and --version show.
    ASSERT_TRUE(VerQueryValueA(version.data(), "\\StringFileInfo\\040904B0\\ProductVersion",
                               reinterpret_cast<void**>(&name), &length));
    EXPECT_STREQ(name, PELLUCOR_VERSION_TEXT);
    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(VerQueryValueA(version.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(PELLUCOR_VERSION_MAJOR << 16 | PELLUCOR_VERSION_MINOR));
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(PELLUCOR_VERSION_PATCH << 16));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: dialog_gui_tests PELLUCOR.EXE [gtest options]\n");
        return 2;
    }
    g_program = argv[1];
    // CTest names the program by its path on the build machine; Wine shows that on drive Z:.
    if (UnderWine() && g_program[0] == '/') {
        for (char& c : g_program)
            if (c == '/') c = '\\';
        g_program = "Z:" + g_program;
    }
    return RUN_ALL_TESTS();
}
