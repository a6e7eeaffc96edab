// The application and dialog framework the program is written on: start-up, the modal
// dialog with its data exchange, message boxes, and the report of a file exception
// that a command did not catch. The window itself belongs to a backend.
#pragma once

#include <memory>
#include <string>

using IconHandle = const void*;

enum class MessageIcon { None, Information, Stop };

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

namespace afx {
class DialogWindow;
}

class CDialog;

class CDataExchange {
public:
    CDataExchange(CDialog* pDlgWnd, bool bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    // Abandons the exchange; UpdateData then reports failure.
    [[noreturn]] void Fail();

    const bool m_bSaveAndValidate;
    CDialog* const m_pDlgWnd;
};

// Combo box selected index <-> int; edit text <-> string.
void DDX_CBIndex(CDataExchange* pDX, int nIDC, int& index);
void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value);

class CDialog {
public:
    explicit CDialog(unsigned nIDTemplate, CDialog* pParentWnd = nullptr);
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;
    virtual ~CDialog();

    // Shows the dialog modally; IDOK, IDCANCEL, or -1 when it could not be created.
    int DoModal();
    void EndDialog(int nResult);

    // TRUE: controls to fields; FALSE: fields to controls. Returns 0 on failure.
    int UpdateData(int bSaveAndValidate = 1);

    void EnableDlgItem(int nID, bool bEnable);
    void SetIcon(IconHandle hIcon, bool bBigIcon);
    bool IsIconic() const;
    void GetClientSize(int& width, int& height) const;
    // A message box owned by this dialog with one OK button.
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon);

    afx::DialogWindow* GetWindow() const { return m_pWindow; }

    // Entry points for the backend. Exceptions never leave them.
    void AfxAttachWindow(afx::DialogWindow* window) { m_pWindow = window; }
    int AfxInitDialog();
    void AfxDispatchCommand(int nID);
    void AfxDispatchOk();
    void AfxDispatchCancel();
    void AfxDispatchPaint();
    IconHandle AfxDispatchQueryDragIcon();

protected:
    // Adds the template's list items, then UpdateData(FALSE); on failure ends the
    // dialog with -1. Returns 1 to let the first control take the focus.
    virtual int OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    // A push button's click; returns false when the dialog has no handler for it.
    virtual bool OnCommand(int nID);
    // UpdateData(TRUE), then the dialog ends with IDOK.
    virtual void OnOK();
    virtual void OnCancel();
    // Painting beyond the default, for the minimised window; nothing by default.
    virtual void OnPaint();
    virtual IconHandle OnQueryDragIcon();

private:
    template <typename Handler>
    void RunReportingErrors(Handler&& handler);

    unsigned m_nIDTemplate;
    CDialog* m_pParentWnd;
    afx::DialogWindow* m_pWindow = nullptr;
};

// A paint session on a dialog's window.
class CPaintDC {
public:
    explicit CPaintDC(CDialog* pWnd);
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    ~CPaintDC();
    void EraseIconBackground();
    void DrawIcon(int x, int y, IconHandle hIcon);

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

int AfxGetSystemIconSize();

class CWinApp {
public:
    CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    virtual ~CWinApp();

    // Returns 0 to end the program without a message loop of its own.
    virtual int InitInstance();

    IconHandle LoadAppIcon(unsigned nIDResource) const;

    CDialog* m_pMainWnd = nullptr;
    std::string m_strExeName;  // the executable's file name without extension
};

CWinApp* AfxGetApp();
void AfxEnableControlContainer();
void Enable3dControlsStatic();

// The program's start: records the executable's name, runs InitInstance and returns
// the exit status. Arguments after the program's name are ignored.
int AfxWinMain(const char* argv0);
