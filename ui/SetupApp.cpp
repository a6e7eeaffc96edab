#include "ui/SetupApp.h"

#include "ui/SetupDlg.h"

CSetupApp theApp;

int CSetupApp::InitInstance()
{
    AfxEnableControlContainer();
    Enable3dControlsStatic();

    CSetupDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;

    // The dialog has ended: the program ends without a message loop of its own.
    return 0;
}
