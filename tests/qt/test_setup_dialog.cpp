// The setup dialog on Qt, headless, against the simulated controller on a
// pseudo-terminal: what the operator sees and what goes over the wire.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "dialog_session.h"
#include "platform/qt/qt_dialog.h"
#include "res/resource.h"
#include "sim/simulator.h"

namespace dialogtest {
namespace {

const char* const kStatusSwitchI = "开关在I状态位,有市电I,有市电II.";  // status 0x01
const char* const kNoPortText = "打开串口错误!";
const char* const kHangUpText = "访问 一未命名文件 时发生了硬件输入输出错误。";

// A simulated controller on its own pseudo-terminal, mapped to COMn.
class MappedController {
public:
    explicit MappedController(int n = 1)
    {
        sim.SetTiming(pscsim::Timing::Fast());
        sim.Start();
        MapComPort(n, sim.SlavePath());
    }

    std::vector<std::uint8_t> LastRequestHead() const
    {
        const std::vector<pscsim::Frame> frames = sim.ReceivedFrames();
        if (frames.empty())
            return {};
        return {frames.back().begin(), frames.back().begin() + 3};
    }

    pscsim::Simulator sim;
};

// Another program that holds the port's lock.
class PortLock {
public:
    explicit PortLock(const std::string& path)
        : m_fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    {
        if (m_fd >= 0 && flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~PortLock()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;
    bool Held() const { return m_fd >= 0; }

private:
    int m_fd;
};

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& tested)
{
    return tested.param.name;
}

// Cases print as their names, in test output and in the names ctest lists.
template <typename Case>
void PrintCase(const Case& c, std::ostream* os)
{
    *os << c.name;
}

class SetupDialog : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (int n = 1; n <= 8; ++n)
            MapComPort(n, MissingPortPath(n));
    }
};

std::vector<std::string> ComboItems(const QComboBox* combo)
{
    std::vector<std::string> items;
    for (int i = 0; combo && i < combo->count(); ++i)
        items.push_back(combo->itemText(i).toStdString());
    return items;
}

void ExpectOneMessage(DialogSession& session, const std::string& text, const std::string& caption,
                      QMessageBox::Icon icon)
{
    const std::vector<Message> messages = session.TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, text);
    EXPECT_EQ(messages[0].caption, caption);
    EXPECT_EQ(messages[0].icon, icon);
    EXPECT_TRUE(messages[0].ownedByDialog);
    EXPECT_TRUE(messages[0].okOnly);
}

TEST_F(SetupDialog, StartsWithThePortClosedAndTheFirstItemsSelected)
{
    MappedController controller;
    std::vector<std::string> addresses;
    for (int a = 1; a <= 32; ++a) {
        char text[3];
        std::snprintf(text, sizeof text, "%02d", a);
        addresses.emplace_back(text);
    }

    const bool shown = DialogSession::Run([&](DialogSession& session) {
        EXPECT_EQ(session.Dialog()->windowTitle().toStdString(), "电源开关控制器设置软件");
        EXPECT_FALSE(session.Dialog()->windowIcon().isNull());
        EXPECT_EQ(ReadButtons(session), kPortClosedButtons);
        EXPECT_EQ(ComboItems(session.Combo(IDC_COM_PORT)),
                  (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}));
        EXPECT_EQ(ComboItems(session.Combo(IDC_DEVICE_ADDR)), addresses);
        EXPECT_EQ(ComboItems(session.Combo(IDC_WORK_MODE)),
                  (std::vector<std::string>{"主备电切换模式", "互相主备电模式"}));
        for (int id : {IDC_COM_PORT, IDC_DEVICE_ADDR, IDC_WORK_MODE}) {
            ASSERT_NE(session.Combo(id), nullptr);
            EXPECT_EQ(session.Combo(id)->currentIndex(), 0) << "list " << id;
            EXPECT_TRUE(session.Combo(id)->isEnabled()) << "list " << id;
        }
        ASSERT_NE(session.Edit(IDC_STATUS), nullptr);
        EXPECT_EQ(session.Edit(IDC_STATUS)->text().toStdString(), "");
        EXPECT_TRUE(session.Edit(IDC_STATUS)->isReadOnly());
        EXPECT_EQ(session.Dialog()->focusWidget(), session.Button(IDC_OPEN_PORT));
        EXPECT_FALSE(PortHeld(controller.sim.SlavePath()));

        // Enter presses the focused "打开串口" instead of ending the dialog.
        session.PressKey(Qt::Key_Return);
        EXPECT_FALSE(session.Ended());
        EXPECT_EQ(ReadButtons(session), kPortOpenButtons);
        EXPECT_TRUE(PortHeld(controller.sim.SlavePath()));
        EXPECT_TRUE(session.TakeMessages().empty());
    });
    EXPECT_TRUE(shown);
}

// Opening the port chosen in the list, and closing it again.
struct OpenCase {
    const char* name;
    int comIndex;              // selected in "COM1" .. "COM8"
    std::optional<int> simOn;  // the COM number mapped to the controller, if any
    bool lockedByOther;        // another program holds the port
    bool opens;
};

void PrintTo(const OpenCase& c, std::ostream* os)
{
    PrintCase(c, os);
}

class OpenPort : public SetupDialog, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpenPort, OpensTheChosenPortOrSaysSoAndClosesIt)
{
    const OpenCase& c = GetParam();
    std::optional<MappedController> controller;
    if (c.simOn)
        controller.emplace(*c.simOn);
    std::optional<PortLock> other;
    if (c.lockedByOther) {
        other.emplace(controller->sim.SlavePath());
        ASSERT_TRUE(other->Held());
    }

    DialogSession::Run([&](DialogSession& session) {
        session.Select(IDC_COM_PORT, c.comIndex);
        session.Click(IDC_OPEN_PORT);
        if (!c.opens) {
            ExpectOneMessage(session, kNoPortText, "错误", QMessageBox::NoIcon);
            EXPECT_EQ(ReadButtons(session), kPortClosedButtons);
            return;
        }
        EXPECT_TRUE(session.TakeMessages().empty());
        EXPECT_EQ(ReadButtons(session), kPortOpenButtons);
        EXPECT_TRUE(PortHeld(controller->sim.SlavePath()));

        session.Click(IDC_CLOSE_PORT);
        EXPECT_TRUE(session.TakeMessages().empty());
        EXPECT_EQ(ReadButtons(session), kPortClosedButtons);
        EXPECT_FALSE(PortHeld(controller->sim.SlavePath()));
        EXPECT_EQ(session.Combo(IDC_COM_PORT)->currentIndex(), c.comIndex);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenPort,
    ::testing::Values(OpenCase{"Com1ToTheController", 0, 1, false, true},
                      OpenCase{"Com8ToTheController", 7, 8, false, true},
                      OpenCase{"MissingPort", 0, std::nullopt, false, false},
                      OpenCase{"ControllerOnAnotherPort", 2, 1, false, false},
                      OpenCase{"PortInUse", 0, 1, true, false}),
    CaseName<OpenCase>);

// One device command on the open port, after a status read has filled the status box.
struct CommandCase {
    const char* name;
    int button;
    int addrIndex;  // selected in "01" .. "32"
    int modeIndex;  // selected work mode
    int controllerAddress;
    pscsim::Faults faults;
    std::uint8_t status;  // the controller's status byte for the command
    std::vector<std::uint8_t> request;  // bytes 0 to 2 of the frame on the wire
    const char* text;
    const char* caption;
    QMessageBox::Icon icon;
    const char* statusBox;  // afterwards
    int addressAfter;
    int modeAfter;
};

pscsim::Faults Refusing()
{
    pscsim::Faults faults;
    faults.refuse = true;
    return faults;
}

pscsim::Faults Silent()
{
    pscsim::Faults faults;
    faults.silent = true;
    return faults;
}

void PrintTo(const CommandCase& c, std::ostream* os)
{
    PrintCase(c, os);
}

class DeviceCommand : public SetupDialog, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(DeviceCommand, SendsTheSelectionsAndReportsTheOutcome)
{
    const CommandCase& c = GetParam();
    MappedController controller;
    controller.sim.SetAddress(c.controllerAddress);

    DialogSession::Run([&](DialogSession& session) {
        session.Click(IDC_OPEN_PORT);
        session.Select(IDC_DEVICE_ADDR, c.controllerAddress - 1);
        session.Click(IDC_READ_STATUS);
        ASSERT_EQ(session.Edit(IDC_STATUS)->text().toStdString(), kStatusSwitchI);
        session.TakeMessages();
        const std::size_t before = controller.sim.ReceivedFrames().size();

        session.Select(IDC_DEVICE_ADDR, c.addrIndex);
        session.Select(IDC_WORK_MODE, c.modeIndex);
        controller.sim.SetFaults(c.faults);
        controller.sim.SetStatus(c.status);
        session.Click(c.button);

        ExpectOneMessage(session, c.text, c.caption, c.icon);
        EXPECT_GT(controller.sim.ReceivedFrames().size(), before);
        EXPECT_EQ(controller.LastRequestHead(), c.request);
        EXPECT_EQ(session.Edit(IDC_STATUS)->text().toStdString(), c.statusBox);
        EXPECT_EQ(session.Combo(IDC_DEVICE_ADDR)->currentIndex(), c.addrIndex);
        EXPECT_EQ(session.Combo(IDC_WORK_MODE)->currentIndex(), c.modeIndex);
        EXPECT_EQ(ReadButtons(session), kPortOpenButtons);
    });
    EXPECT_EQ(controller.sim.Address(), c.addressAfter);
    EXPECT_EQ(controller.sim.Mode(), c.modeAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceCommand,
    ::testing::Values(
        CommandCase{"SetAddress32", IDC_SET_ADDRESS, 31, 0, 1, {}, 0x01, {0xF0, 0x04, 0x20}, "地址设置成功!", "成功",
                    QMessageBox::Information, kStatusSwitchI, 32, 0},
        CommandCase{"SetAddressRefused", IDC_SET_ADDRESS, 4, 0, 1, Refusing(), 0x01, {0xF0, 0x04, 0x05},
                    "地址设置失败!", "错误", QMessageBox::Critical, kStatusSwitchI, 1, 0},
        CommandCase{"SetSecondMode", IDC_SET_MODE, 6, 1, 7, {}, 0x01, {0x07, 0x05, 0x01}, "工作模式设置成功!", "成功",
                    QMessageBox::Information, kStatusSwitchI, 7, 1},
        CommandCase{"SetModeRefused", IDC_SET_MODE, 0, 1, 1, Refusing(), 0x01, {0x01, 0x05, 0x01},
                    "工作模式设置失败!", "错误", QMessageBox::Critical, kStatusSwitchI, 1, 0},
        CommandCase{"ReadStatusFrom32", IDC_READ_STATUS, 31, 1, 32, {}, 0xFC, {0x20, 0x03, 0x02},
                    "获得状态信息成功!", "成功", QMessageBox::Information, "开关在0状态位,没有市电I,没有市电II.", 32, 0},
        // The controller does not answer: the exchange gives up after its five attempts.
        CommandCase{"ReadStatusNoAnswer", IDC_READ_STATUS, 0, 0, 1, Silent(), 0x1C, {0x01, 0x03, 0x02},
                    "获得状态信息失败!", "错误", QMessageBox::Critical, kStatusSwitchI, 1, 0}),
    CaseName<CommandCase>);

// The controller hangs up while a command waits for its reply: the framework reports
// the failure, and the dialog goes on working.
class HangUp : public SetupDialog, public ::testing::WithParamInterface<int> {};

TEST_P(HangUp, TheFrameworkReportsItAndTheDialogCarriesOn)
{
    MappedController controller;

    DialogSession::Run([&](DialogSession& session) {
        session.Click(IDC_OPEN_PORT);
        pscsim::Faults faults;
        faults.hangupAfter = 0;
        controller.sim.SetFaults(faults);
        session.Click(GetParam());

        ExpectOneMessage(session, kHangUpText, "pscsetup", QMessageBox::Critical);
        EXPECT_TRUE(controller.sim.HungUp());
        EXPECT_EQ(ReadButtons(session), kPortOpenButtons);
        EXPECT_EQ(session.Edit(IDC_STATUS)->text().toStdString(), "");

        session.Click(IDC_CLOSE_PORT);
        EXPECT_TRUE(session.TakeMessages().empty());
        EXPECT_EQ(ReadButtons(session), kPortClosedButtons);

        // The controller comes back on another pseudo-terminal under the same name.
        MappedController again;
        session.Click(IDC_OPEN_PORT);
        session.Click(IDC_READ_STATUS);
        ExpectOneMessage(session, "获得状态信息成功!", "成功", QMessageBox::Information);
        EXPECT_EQ(session.Edit(IDC_STATUS)->text().toStdString(), kStatusSwitchI);
        session.Click(IDC_CLOSE_PORT);
    });
}

INSTANTIATE_TEST_SUITE_P(Commands, HangUp, ::testing::Values(IDC_SET_ADDRESS, IDC_SET_MODE, IDC_READ_STATUS),
                         [](const ::testing::TestParamInfo<int>& tested) {
                             switch (tested.param) {
                             case IDC_SET_ADDRESS: return std::string("SetAddress");
                             case IDC_SET_MODE: return std::string("SetMode");
                             default: return std::string("ReadStatus");
                             }
                         });

// Ways of ending the dialog with the port open; each ends it at once and frees the port.
struct EndCase {
    const char* name;
    int focus;  // the control with the focus
    std::optional<Qt::Key> key;  // none: the close box
    Qt::KeyboardModifiers modifiers;
};

void PrintTo(const EndCase& c, std::ostream* os)
{
    PrintCase(c, os);
}

class EndDialog : public SetupDialog, public ::testing::WithParamInterface<EndCase> {};

TEST_P(EndDialog, EndsAtOnceAndReleasesThePort)
{
    const EndCase& c = GetParam();
    MappedController controller;

    const bool shown = DialogSession::Run([&](DialogSession& session) {
        session.Click(IDC_OPEN_PORT);
        ASSERT_TRUE(PortHeld(controller.sim.SlavePath()));
        afx::qt::FindControl(session.Dialog(), c.focus)->setFocus(Qt::OtherFocusReason);
        if (c.key)
            session.PressKey(*c.key, c.modifiers);
        else
            session.Dialog()->close();
        EXPECT_TRUE(session.Ended());
        EXPECT_TRUE(session.TakeMessages().empty());
    });
    EXPECT_TRUE(shown);
    EXPECT_FALSE(PortHeld(controller.sim.SlavePath()));
    EXPECT_EQ(controller.sim.RequestCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EndDialog,
    ::testing::Values(EndCase{"Escape", IDC_READ_STATUS, Qt::Key_Escape, Qt::NoModifier},
                      EndCase{"EnterOnAList", IDC_DEVICE_ADDR, Qt::Key_Return, Qt::NoModifier},
                      EndCase{"EnterOnTheStatusBox", IDC_STATUS, Qt::Key_Enter, Qt::KeypadModifier},
                      EndCase{"AltF4OnAList", IDC_COM_PORT, Qt::Key_F4, Qt::AltModifier},
                      EndCase{"CloseBox", IDC_SET_MODE, std::nullopt, Qt::NoModifier}),
    CaseName<EndCase>);

}  // namespace
}  // namespace dialogtest
