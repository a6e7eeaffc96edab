// The setup dialog: pick a port and open it, pick a controller and a mode, and run one
// of the three device commands.
#pragma once

#include <string>

#include "platform/afx/dialog.h"
#include "res/resource.h"
#include "serial/SerialPort.h"

class CSetupDlg : public CDialog {
public:
    explicit CSetupDlg(CDialog* pParent = nullptr);

    enum { IDD = IDD_SETUP_DIALOG };

    CSerialPort m_port;
    int m_nComIndex = 0;
    int m_nWorkMode = 0;
    std::string m_strStatus;
    int m_nAddrIndex = 0;
    IconHandle m_hIcon = nullptr;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    int OnInitDialog() override;
    bool OnCommand(int nID) override;
    void OnPaint() override;
    IconHandle OnQueryDragIcon() override;

    void OnOpenPort();
    void OnClosePort();
    void OnSetAddress();
    void OnSetMode();
    void OnReadStatus();
};
