// The dialog framework's window on Win32: a modal dialog that the dialog manager makes
// from an in-memory template, built from the program's one template description.
//
// The program's headers come first: windows.h defines IDOK and IDCANCEL as macros.
#include "platform/afx/dialog.h"
#include "platform/afx/dialog_template.h"
#include "platform/afx/dialog_window.h"

#include "platform/win32/dialog_template_win32.h"
#include "platform/win32/unicode.h"
#include "platform/win32/win32_api.h"

#include <cstdint>
#include <map>
#include <vector>

namespace afx {
namespace {

// The two images of an icon resource, each at the size the system draws it.
struct LoadedIcon {
    HICON big = nullptr;
    HICON small = nullptr;
};

HICON BigIcon(IconHandle icon)
{
    return icon ? static_cast<const LoadedIcon*>(icon)->big : nullptr;
}

HICON SmallIcon(IconHandle icon)
{
    return icon ? static_cast<const LoadedIcon*>(icon)->small : nullptr;
}

UINT ToMessageBoxStyle(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information: return MB_OK | MB_ICONINFORMATION;
    case MessageIcon::Stop: return MB_OK | MB_ICONERROR;
    case MessageIcon::None: break;
    }
    return MB_OK;
}

class Win32PaintContext final : public PaintContext {
public:
    explicit Win32PaintContext(HWND window) : m_window(window) { m_dc = ::BeginPaint(window, &m_paint); }
    ~Win32PaintContext() override { ::EndPaint(m_window, &m_paint); }

    void EraseIconBackground() override
    {
        ::SendMessageW(m_window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(m_dc), 0);
    }

    void DrawIcon(int x, int y, IconHandle icon) override
    {
        if (HICON handle = BigIcon(icon))
            ::DrawIcon(m_dc, x, y, handle);
    }

private:
    HWND m_window;
    PAINTSTRUCT m_paint{};
    HDC m_dc = nullptr;
};

// Outside WM_PAINT there is nothing to paint on.
class NullPaintContext final : public PaintContext {
public:
    void EraseIconBackground() override {}
    void DrawIcon(int, int, IconHandle) override {}
};

class Win32DialogWindow final : public DialogWindow {
public:
    explicit Win32DialogWindow(CDialog& owner) : m_owner(owner) {}

    CDialog& Owner() { return m_owner; }
    HWND Handle() const { return m_window; }
    void Attach(HWND window) { m_window = window; }

    bool Ended() const { return m_ended; }
    int Result() const { return m_result; }

    // WM_PAINT: true when the framework painted (the minimised window), false to leave
    // painting to the dialog manager.
    bool Paint()
    {
        m_inPaint = true;
        m_painted = false;
        m_owner.AfxDispatchPaint();
        m_inPaint = false;
        return m_painted;
    }

    IconHandle BigIconHandle() const { return m_bigIcon; }

    // Centres the window on the work area of the primary monitor.
    void CentreOnPrimaryMonitor()
    {
        RECT work{};
        if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
            return;
        RECT frame{};
        if (!::GetWindowRect(m_window, &frame))
            return;
        const int width = frame.right - frame.left;
        const int height = frame.bottom - frame.top;
        int x = work.left + ((work.right - work.left) - width) / 2;
        int y = work.top + ((work.bottom - work.top) - height) / 2;
        // A window larger than the work area keeps its caption on the screen.
        if (x < work.left)
            x = work.left;
        if (y < work.top)
            y = work.top;
        ::SetWindowPos(m_window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    // DialogWindow
    bool AddComboItem(int id, const std::string& text) override
    {
        HWND combo = Item(id);
        if (!combo)
            return false;
        const std::wstring wide = platform::win32::Utf8ToWide(text);
        const LRESULT index = ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
        return index != CB_ERR && index != CB_ERRSPACE;
    }

    bool SetComboSelection(int id, int index) override
    {
        HWND combo = Item(id);
        if (!combo)
            return false;
        // An index out of range clears the selection and fails; -1 only clears it.
        const LRESULT result = ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        return result != CB_ERR || index == -1;
    }

    int GetComboSelection(int id) const override
    {
        HWND combo = Item(id);
        if (!combo)
            return -1;
        return static_cast<int>(::SendMessageW(combo, CB_GETCURSEL, 0, 0));
    }

    bool SetControlText(int id, const std::string& text) override
    {
        HWND control = Item(id);
        if (!control)
            return false;
        return ::SetWindowTextW(control, platform::win32::Utf8ToWide(text).c_str()) != 0;
    }

    bool GetControlText(int id, std::string& text) const override
    {
        HWND control = Item(id);
        if (!control)
            return false;
        const int length = ::GetWindowTextLengthW(control);
        std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
        const int copied = ::GetWindowTextW(control, &wide[0], static_cast<int>(wide.size()));
        wide.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
        text = platform::win32::WideToUtf8(wide);
        return true;
    }

    bool HasControl(int id) const override { return Item(id) != nullptr; }

    void EnableControl(int id, bool enable) override
    {
        HWND control = Item(id);
        if (!control)
            return;
        // A disabled control cannot keep the focus: it passes to the next control in
        // tab order, so the keyboard goes on working.
        if (!enable && ::GetFocus() == control)
            ::SendMessageW(m_window, WM_NEXTDLGCTL, 0, FALSE);
        ::EnableWindow(control, enable ? TRUE : FALSE);
    }

    void SetIcon(IconHandle icon, bool big) override
    {
        if (big) {
            m_bigIcon = icon;
            ::SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(BigIcon(icon)));
        } else {
            ::SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(SmallIcon(icon)));
        }
    }

    bool IsMinimised() const override { return m_window && ::IsIconic(m_window); }

    void ClientSize(int& width, int& height) const override
    {
        RECT client{};
        ::GetClientRect(m_window, &client);
        width = client.right - client.left;
        height = client.bottom - client.top;
    }

    std::unique_ptr<PaintContext> BeginPaint() override
    {
        if (!m_inPaint || m_painted)
            return std::make_unique<NullPaintContext>();
        m_painted = true;
        return std::make_unique<Win32PaintContext>(m_window);
    }

    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override
    {
        const std::wstring wideText = platform::win32::Utf8ToWide(text);
        const std::wstring wideCaption = platform::win32::Utf8ToWide(caption);
        ::MessageBoxW(m_window, wideText.c_str(), wideCaption.c_str(), ToMessageBoxStyle(icon));
    }

    void EndModal(int result) override
    {
        m_ended = true;
        m_result = result;
        if (m_window)
            ::EndDialog(m_window, result);
    }

private:
    HWND Item(int id) const
    {
        if (!m_window || id == -1)
            return nullptr;
        return ::GetDlgItem(m_window, id);
    }

    CDialog& m_owner;
    HWND m_window = nullptr;
    IconHandle m_bigIcon = nullptr;
    bool m_ended = false;
    int m_result = IDCANCEL;
    bool m_inPaint = false;
    bool m_painted = false;
};

// The framework's entry points catch what a command raises; nothing the program throws
// may unwind through the system's code that called this procedure.
INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        if (message == WM_INITDIALOG) {
            auto* self = reinterpret_cast<Win32DialogWindow*>(lParam);
            ::SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
            self->Attach(window);
            const int focusFirst = self->Owner().AfxInitDialog();
            if (self->Ended()) {
                ::EndDialog(window, self->Result());
                return FALSE;
            }
            self->CentreOnPrimaryMonitor();
            return focusFirst ? TRUE : FALSE;
        }

        auto* self = reinterpret_cast<Win32DialogWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
        if (!self)
            return FALSE;

        switch (message) {
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int code = HIWORD(wParam);
            if (code != BN_CLICKED)
                return FALSE;
            // Escape, the close box and Alt+F4 arrive as IDCANCEL; Enter away from a
            // push button as IDOK.
            if (id == IDOK)
                self->Owner().AfxDispatchOk();
            else if (id == IDCANCEL)
                self->Owner().AfxDispatchCancel();
            else if (lParam != 0)
                self->Owner().AfxDispatchCommand(id);
            return TRUE;
        }
        case WM_PAINT:
            return self->Paint() ? TRUE : FALSE;
        case WM_QUERYDRAGICON:
            // One of the messages whose result a dialog procedure returns directly.
            return reinterpret_cast<INT_PTR>(BigIcon(self->Owner().AfxDispatchQueryDragIcon()));
        case WM_NCDESTROY:
            ::SetWindowLongPtrW(window, DWLP_USER, 0);
            self->Attach(nullptr);
            return FALSE;
        default:
            return FALSE;
        }
    } catch (...) {
        return FALSE;
    }
}

HINSTANCE ProgramInstance()
{
    return ::GetModuleHandleW(nullptr);
}

}  // namespace

int RunModalDialog(const DialogTemplate& tpl, CDialog& dialog, CDialog* parent)
{
    HWND parentWindow = nullptr;
    if (parent && parent->GetWindow())
        parentWindow = static_cast<Win32DialogWindow*>(parent->GetWindow())->Handle();

    const std::vector<std::uint16_t> native = platform::win32::BuildDialogTemplate(tpl);
    Win32DialogWindow window(dialog);
    dialog.AfxAttachWindow(&window);
    const INT_PTR result =
        ::DialogBoxIndirectParamW(ProgramInstance(), reinterpret_cast<LPCDLGTEMPLATEW>(native.data()), parentWindow,
                                  DialogProc, reinterpret_cast<LPARAM>(&window));
    dialog.AfxAttachWindow(nullptr);
    if (window.Ended())
        return window.Result();
    return result == -1 ? -1 : static_cast<int>(result);
}

IconHandle LoadIconResource(unsigned id)
{
    static std::map<unsigned, LoadedIcon> loaded;
    const auto found = loaded.find(id);
    if (found != loaded.end())
        return &found->second;

    HINSTANCE instance = ProgramInstance();
    LoadedIcon icon;
    // Shared icons live as long as the program and are never destroyed.
    icon.big = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON),
                                               LR_DEFAULTCOLOR | LR_SHARED));
    if (!icon.big)
        return nullptr;
    icon.small = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON,
                                                 ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                                 LR_DEFAULTCOLOR | LR_SHARED));
    if (!icon.small)
        icon.small = icon.big;
    return &loaded.emplace(id, icon).first->second;
}

int SystemIconSize()
{
    return ::GetSystemMetrics(SM_CXICON);
}

}  // namespace afx
