#include "ui/SetupDlg.h"

#include <cstdint>

#include "protocol/Commands.h"

namespace {

const char* const kCaptionSuccess = "成功";
const char* const kCaptionError = "错误";

constexpr int kDeviceButtons[] = {IDC_CLOSE_PORT, IDC_SET_ADDRESS, IDC_SET_MODE, IDC_READ_STATUS};

struct CommandEntry {
    int nID;
    void (CSetupDlg::*handler)();
};

}  // namespace

CSetupDlg::CSetupDlg(CDialog* pParent) : CDialog(IDD, pParent)
{
    m_hIcon = AfxGetApp() ? AfxGetApp()->LoadAppIcon(IDR_MAINFRAME) : nullptr;
}

void CSetupDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_CBIndex(pDX, IDC_COM_PORT, m_nComIndex);
    DDX_CBIndex(pDX, IDC_WORK_MODE, m_nWorkMode);
    DDX_Text(pDX, IDC_STATUS, m_strStatus);
    DDX_CBIndex(pDX, IDC_DEVICE_ADDR, m_nAddrIndex);
}

int CSetupDlg::OnInitDialog()
{
    if (!CDialog::OnInitDialog())
        return 0;  // the dialog has already ended with -1

    SetIcon(m_hIcon, true);
    SetIcon(m_hIcon, false);
    return 1;  // the first control, "打开串口", takes the focus
}

bool CSetupDlg::OnCommand(int nID)
{
    static const CommandEntry kCommands[] = {
        {IDC_OPEN_PORT, &CSetupDlg::OnOpenPort},
        {IDC_CLOSE_PORT, &CSetupDlg::OnClosePort},
        {IDC_SET_ADDRESS, &CSetupDlg::OnSetAddress},
        {IDC_SET_MODE, &CSetupDlg::OnSetMode},
        {IDC_READ_STATUS, &CSetupDlg::OnReadStatus},
    };
    for (const CommandEntry& entry : kCommands) {
        if (entry.nID == nID) {
            (this->*entry.handler)();
            return true;
        }
    }
    return CDialog::OnCommand(nID);
}

// The minimised window shows the icon centred in the client area.
void CSetupDlg::OnPaint()
{
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    dc.EraseIconBackground();
    const int cxIcon = AfxGetSystemIconSize();
    const int cyIcon = AfxGetSystemIconSize();
    int width = 0;
    int height = 0;
    GetClientSize(width, height);
    const int x = (width - cxIcon + 1) / 2;
    const int y = (height - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

IconHandle CSetupDlg::OnQueryDragIcon()
{
    return m_hIcon;
}

void CSetupDlg::OnOpenPort()
{
    UpdateData(1);
    m_port.Close();
    m_port.m_dcb.BaudRate = 2400;
    m_port.m_nPortNo = static_cast<std::uint8_t>(m_nComIndex + 1);
    if (m_port.Open()) {
        EnableDlgItem(IDC_OPEN_PORT, false);
        for (int nID : kDeviceButtons)
            EnableDlgItem(nID, true);
    } else {
        ShowMessage("打开串口错误!", kCaptionError, MessageIcon::None);
    }
}

void CSetupDlg::OnClosePort()
{
    m_port.Close();
    EnableDlgItem(IDC_OPEN_PORT, true);
    for (int nID : kDeviceButtons)
        EnableDlgItem(nID, false);
}

void CSetupDlg::OnSetAddress()
{
    UpdateData(1);
    if (SetAddress(m_port, m_nAddrIndex))
        ShowMessage("地址设置成功!", kCaptionSuccess, MessageIcon::Information);
    else
        ShowMessage("地址设置失败!", kCaptionError, MessageIcon::Stop);
}

void CSetupDlg::OnSetMode()
{
    UpdateData(1);
    if (SetWorkMode(m_port, m_nAddrIndex, m_nWorkMode))
        ShowMessage("工作模式设置成功!", kCaptionSuccess, MessageIcon::Information);
    else
        ShowMessage("工作模式设置失败!", kCaptionError, MessageIcon::Stop);
}

void CSetupDlg::OnReadStatus()
{
    UpdateData(1);
    std::uint8_t status = 0;
    if (!ReadStatus(m_port, m_nAddrIndex, status)) {
        ShowMessage("获得状态信息失败!", kCaptionError, MessageIcon::Stop);
        return;
    }
    m_strStatus = FormatStatusText(status);
    UpdateData(0);
    ShowMessage("获得状态信息成功!", kCaptionSuccess, MessageIcon::Information);
}
