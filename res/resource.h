// Resource identifiers of the program.
#pragma once

#define IDD_SETUP_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_OPEN_PORT 1000
#define IDC_CLOSE_PORT 1001
#define IDC_SET_ADDRESS 1002
#define IDC_SET_MODE 1003
#define IDC_READ_STATUS 1004
#define IDC_COM_PORT 1005
#define IDC_DEVICE_ADDR 1006
#define IDC_WORK_MODE 1007
#define IDC_STATUS 1008

#define IDC_STATIC (-1)
