// The setup dialog's template: one description for every backend.
#include <iterator>

#include "platform/afx/dialog_template.h"
#include "res/resource.h"

namespace {

using afx::ControlKind;

constexpr unsigned kButton = afx::kStyleTabStop;
constexpr unsigned kButtonOff = afx::kStyleTabStop | afx::kStyleDisabled;
constexpr unsigned kList = afx::kStyleVScroll | afx::kStyleTabStop;

// Tab order is the order of this table.
const afx::ControlTemplate kControls[] = {
    {IDC_OPEN_PORT, ControlKind::PushButton, "打开串口", 65, 15, 50, 14, kButton},
    {IDC_CLOSE_PORT, ControlKind::PushButton, "关闭串口", 120, 15, 50, 14, kButtonOff},
    {IDC_SET_ADDRESS, ControlKind::PushButton, "修改地址", 10, 110, 50, 14, kButtonOff},
    {IDC_SET_MODE, ControlKind::PushButton, "设置模式", 65, 110, 50, 14, kButtonOff},
    {IDC_READ_STATUS, ControlKind::PushButton, "读取状态", 120, 110, 50, 14, kButtonOff},
    {IDC_STATIC, ControlKind::GroupBox, "串口操作", 5, 5, 170, 30, 0},
    {IDC_COM_PORT, ControlKind::DropDownList, "", 10, 15, 50, 85, kList},
    {IDC_STATIC, ControlKind::GroupBox, "设备操作", 5, 35, 170, 95, 0},
    {IDC_DEVICE_ADDR, ControlKind::DropDownList, "", 15, 55, 50, 90, kList},
    {IDC_STATIC, ControlKind::GroupBox, "设备地址", 10, 45, 60, 30, 0},
    {IDC_STATIC, ControlKind::GroupBox, "工作模式", 70, 45, 100, 30, 0},
    {IDC_WORK_MODE, ControlKind::DropDownList, "", 75, 55, 90, 90, kList},
    {IDC_STATIC, ControlKind::GroupBox, "系统状态", 10, 75, 160, 30, 0},
    {IDC_STATUS, ControlKind::Edit, "", 15, 85, 150, 14,
     afx::kStyleTabStop | afx::kStyleReadOnly | afx::kStyleCentred | afx::kStyleAutoHScroll},
};

const char* const kComPorts[] = {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"};

const char* const kAddresses[] = {
    "01", "02", "03", "04", "05", "06", "07", "08", "09", "10", "11",
    "12", "13", "14", "15", "16", "17", "18", "19", "20", "21", "22",
    "23", "24", "25", "26", "27", "28", "29", "30", "31", "32",
};

const char* const kWorkModes[] = {"主备电切换模式", "互相主备电模式"};

const afx::ListInitData kLists[] = {
    {IDC_COM_PORT, kComPorts, std::size(kComPorts)},
    {IDC_DEVICE_ADDR, kAddresses, std::size(kAddresses)},
    {IDC_WORK_MODE, kWorkModes, std::size(kWorkModes)},
};

const afx::DialogTemplate kSetupDialog = {
    IDD_SETUP_DIALOG, 0, 0, 182, 135,
    "电源开关控制器设置软件", "宋体", 9,
    kControls, std::size(kControls),
    kLists, std::size(kLists),
};

}  // namespace

const afx::DialogTemplate* AfxFindDialogTemplate(unsigned id)
{
    return id == IDD_SETUP_DIALOG ? &kSetupDialog : nullptr;
}
