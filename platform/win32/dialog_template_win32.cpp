#include "platform/win32/dialog_template_win32.h"

#include <algorithm>
#include <string>

#include "platform/win32/unicode.h"
#include "platform/win32/win32_api.h"

namespace platform::win32 {

namespace {

// The predefined window classes, by atom.
constexpr std::uint16_t kClassButton = 0x0080;
constexpr std::uint16_t kClassEdit = 0x0081;
constexpr std::uint16_t kClassComboBox = 0x0085;

constexpr DWORD kDialogStyle = DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kDialogExStyle = WS_EX_APPWINDOW;

class TemplateWriter {
public:
    void Word(std::uint16_t value) { m_words.push_back(value); }

    void Dword(std::uint32_t value)
    {
        Word(static_cast<std::uint16_t>(value & 0xFFFFu));
        Word(static_cast<std::uint16_t>(value >> 16));
    }

    // Coordinates are 16-bit signed in a template.
    void Short(int value)
    {
        const int clamped = std::clamp(value, -32768, 32767);
        Word(static_cast<std::uint16_t>(static_cast<std::int16_t>(clamped)));
    }

    void String(const char* utf8)
    {
        const std::wstring wide = Utf8ToWide(utf8 ? utf8 : "");
        for (const wchar_t c : wide)
            Word(static_cast<std::uint16_t>(c));
        Word(0);
    }

    void AlignDword()
    {
        if (m_words.size() % 2 != 0)
            Word(0);
    }

    std::vector<std::uint16_t> Take() { return std::move(m_words); }

private:
    std::vector<std::uint16_t> m_words;
};

struct NativeControl {
    std::uint16_t windowClass;
    DWORD style;
    DWORD exStyle;
};

NativeControl ToNative(const afx::ControlTemplate& control)
{
    NativeControl native{kClassButton, WS_CHILD | WS_VISIBLE, 0};
    switch (control.kind) {
    case afx::ControlKind::PushButton:
        native.style |= BS_PUSHBUTTON;
        break;
    case afx::ControlKind::GroupBox:
        native.style |= BS_GROUPBOX;
        break;
    case afx::ControlKind::DropDownList:
        native.windowClass = kClassComboBox;
        native.style |= CBS_DROPDOWNLIST;
        break;
    case afx::ControlKind::Edit:
        native.windowClass = kClassEdit;
        native.exStyle |= WS_EX_CLIENTEDGE;  // the sunken frame of a text box
        break;
    }
    const unsigned styles = control.styles;
    if (styles & afx::kStyleTabStop)
        native.style |= WS_TABSTOP;
    if (styles & afx::kStyleDisabled)
        native.style |= WS_DISABLED;
    if (styles & afx::kStyleVScroll)
        native.style |= WS_VSCROLL;
    if (styles & afx::kStyleReadOnly)
        native.style |= ES_READONLY;
    if (styles & afx::kStyleCentred)
        native.style |= ES_CENTER;
    if (styles & afx::kStyleAutoHScroll)
        native.style |= ES_AUTOHSCROLL;
    return native;
}

}  // namespace

std::vector<std::uint16_t> BuildDialogTemplate(const afx::DialogTemplate& tpl)
{
    TemplateWriter out;
    out.Word(1);       // dlgVer
    out.Word(0xFFFF);  // signature of the extended template
    out.Dword(0);      // helpID
    out.Dword(kDialogExStyle);
    out.Dword(kDialogStyle);
    out.Word(static_cast<std::uint16_t>(std::min<std::size_t>(tpl.controlCount, 0xFFFF)));
    out.Short(tpl.x);
    out.Short(tpl.y);
    out.Short(tpl.cx);
    out.Short(tpl.cy);
    out.Word(0);  // no menu
    out.Word(0);  // the dialog manager's own window class
    out.String(tpl.caption);
    out.Short(tpl.fontPointSize);
    out.Word(FW_NORMAL);
    out.Word(static_cast<std::uint16_t>(DEFAULT_CHARSET << 8));  // not italic; default character set
    out.String(tpl.fontName);

    for (std::size_t i = 0; i < tpl.controlCount && i < 0xFFFF; ++i) {
        const afx::ControlTemplate& control = tpl.controls[i];
        const NativeControl native = ToNative(control);
        out.AlignDword();
        out.Dword(0);  // helpID
        out.Dword(native.exStyle);
        out.Dword(native.style);
        out.Short(control.x);
        out.Short(control.y);
        out.Short(control.cx);
        out.Short(control.cy);
        out.Dword(static_cast<std::uint32_t>(control.id));
        out.Word(0xFFFF);
        out.Word(native.windowClass);
        out.String(control.text);
        out.Word(0);  // no creation data
    }
    return out.Take();
}

}  // namespace platform::win32
