#include "platform/afx/dialog.h"

#include <exception>
#include <memory>

#include "platform/afx/dialog_template.h"
#include "platform/afx/dialog_window.h"
#include "platform/afx/file.h"

namespace {

struct DataExchangeFailure {};

CWinApp* g_pApp = nullptr;

const char* const kUnexpectedErrorText = "发生了一个意外错误, 命令未能完成。";

std::string ExeNameFromPath(const char* argv0)
{
    std::string name = argv0 ? argv0 : "";
    const auto slash = name.find_last_of("/\\");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}

}  // namespace

void CDataExchange::Fail()
{
    throw DataExchangeFailure{};
}

void DDX_CBIndex(CDataExchange* pDX, int nIDC, int& index)
{
    afx::DialogWindow* window = pDX->m_pDlgWnd->GetWindow();
    if (!window || !window->HasControl(nIDC))
        pDX->Fail();
    if (pDX->m_bSaveAndValidate)
        index = window->GetComboSelection(nIDC);
    else
        window->SetComboSelection(nIDC, index);
}

void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value)
{
    afx::DialogWindow* window = pDX->m_pDlgWnd->GetWindow();
    if (!window || !window->HasControl(nIDC))
        pDX->Fail();
    if (pDX->m_bSaveAndValidate) {
        if (!window->GetControlText(nIDC, value))
            pDX->Fail();
    } else if (!window->SetControlText(nIDC, value)) {
        pDX->Fail();
    }
}

CDialog::CDialog(unsigned nIDTemplate, CDialog* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd)
{
}

CDialog::~CDialog() = default;

int CDialog::DoModal()
{
    const afx::DialogTemplate* tpl = AfxFindDialogTemplate(m_nIDTemplate);
    if (!tpl)
        return -1;
    const int result = afx::RunModalDialog(*tpl, *this, m_pParentWnd);
    m_pWindow = nullptr;
    return result;
}

void CDialog::EndDialog(int nResult)
{
    if (m_pWindow)
        m_pWindow->EndModal(nResult);
}

int CDialog::UpdateData(int bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate != 0);
    try {
        DoDataExchange(&dx);
    } catch (const DataExchangeFailure&) {
        return 0;
    }
    return 1;
}

void CDialog::EnableDlgItem(int nID, bool bEnable)
{
    if (m_pWindow)
        m_pWindow->EnableControl(nID, bEnable);
}

void CDialog::SetIcon(IconHandle hIcon, bool bBigIcon)
{
    if (m_pWindow)
        m_pWindow->SetIcon(hIcon, bBigIcon);
}

bool CDialog::IsIconic() const
{
    return m_pWindow && m_pWindow->IsMinimised();
}

void CDialog::GetClientSize(int& width, int& height) const
{
    width = height = 0;
    if (m_pWindow)
        m_pWindow->ClientSize(width, height);
}

void CDialog::ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon)
{
    if (m_pWindow)
        m_pWindow->ShowMessage(text, caption, icon);
}

// A command that fails with an operating-system error stops where it is; the operator
// learns of it here and the dialog carries on.
template <typename Handler>
void CDialog::RunReportingErrors(Handler&& handler)
{
    const std::string caption = AfxGetApp() ? AfxGetApp()->m_strExeName : std::string();
    try {
        handler();
    } catch (const CFileException& e) {
        ShowMessage(e.GetErrorMessage(), caption, MessageIcon::Stop);
    } catch (const std::exception&) {
        ShowMessage(kUnexpectedErrorText, caption, MessageIcon::Stop);
    }
}

int CDialog::AfxInitDialog()
{
    int result = 0;
    RunReportingErrors([&] { result = OnInitDialog(); });
    return result;
}

void CDialog::AfxDispatchCommand(int nID)
{
    RunReportingErrors([&] { OnCommand(nID); });
}

void CDialog::AfxDispatchOk()
{
    RunReportingErrors([&] { OnOK(); });
}

void CDialog::AfxDispatchCancel()
{
    RunReportingErrors([&] { OnCancel(); });
}

void CDialog::AfxDispatchPaint()
{
    RunReportingErrors([&] { OnPaint(); });
}

IconHandle CDialog::AfxDispatchQueryDragIcon()
{
    IconHandle icon = nullptr;
    RunReportingErrors([&] { icon = OnQueryDragIcon(); });
    return icon;
}

int CDialog::OnInitDialog()
{
    const afx::DialogTemplate* tpl = AfxFindDialogTemplate(m_nIDTemplate);
    bool ok = tpl != nullptr && m_pWindow != nullptr;
    for (std::size_t l = 0; ok && l < tpl->listCount; ++l) {
        const afx::ListInitData& list = tpl->lists[l];
        for (std::size_t i = 0; ok && i < list.count; ++i)
            ok = m_pWindow->AddComboItem(list.id, list.items[i]);
    }
    if (!ok || !UpdateData(0)) {
        EndDialog(-1);
        return 0;
    }
    return 1;
}

void CDialog::DoDataExchange(CDataExchange*) {}

bool CDialog::OnCommand(int)
{
    return false;
}

void CDialog::OnOK()
{
    if (UpdateData(1))
        EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::OnPaint() {}

IconHandle CDialog::OnQueryDragIcon()
{
    return nullptr;
}

struct CPaintDC::Impl {
    std::unique_ptr<afx::PaintContext> context;
};

CPaintDC::CPaintDC(CDialog* pWnd) : m_pImpl(std::make_unique<Impl>())
{
    if (pWnd && pWnd->GetWindow())
        m_pImpl->context = pWnd->GetWindow()->BeginPaint();
}

CPaintDC::~CPaintDC() = default;

void CPaintDC::EraseIconBackground()
{
    if (m_pImpl->context)
        m_pImpl->context->EraseIconBackground();
}

void CPaintDC::DrawIcon(int x, int y, IconHandle hIcon)
{
    if (m_pImpl->context)
        m_pImpl->context->DrawIcon(x, y, hIcon);
}

int AfxGetSystemIconSize()
{
    return afx::SystemIconSize();
}

CWinApp::CWinApp()
{
    g_pApp = this;
}

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = nullptr;
}

int CWinApp::InitInstance()
{
    return 1;
}

IconHandle CWinApp::LoadAppIcon(unsigned nIDResource) const
{
    return afx::LoadIconResource(nIDResource);
}

CWinApp* AfxGetApp()
{
    return g_pApp;
}

// Controls need no containment or 3-D registration with the backends in use; the calls
// stay so that start-up reads as it runs.
void AfxEnableControlContainer() {}
void Enable3dControlsStatic() {}

int AfxWinMain(const char* argv0)
{
    CWinApp* app = AfxGetApp();
    if (!app)
        return 1;
    app->m_strExeName = ExeNameFromPath(argv0);
    try {
        app->InitInstance();
    } catch (const std::exception&) {
        return 1;
    }
    return 0;
}
