#include "dialog_session.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdlib>

#include "platform/afx/dialog.h"
#include "platform/afx/dialog_window.h"
#include "platform/qt/qt_dialog.h"
#include "res/resource.h"

namespace dialogtest {

namespace {

std::vector<Message> g_messages;

// Reads the message box that is up, if any, and presses its OK button; a box with
// other buttons is rejected so that the dialog carries on either way.
void AnswerMessageBox(const QWidget* dialog)
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    Message message;
    message.text = box->text().toStdString();
    message.caption = box->windowTitle().toStdString();
    message.icon = box->icon();
    message.ownedByDialog = dialog != nullptr && box->parentWidget() == dialog;
    const QList<QAbstractButton*> buttons = box->buttons();
    message.okOnly = buttons.size() == 1 && box->standardButton(buttons.front()) == QMessageBox::Ok;
    g_messages.push_back(message);
    if (message.okOnly)
        buttons.front()->click();
    else
        box->reject();
}

}  // namespace

void MapComPort(int n, const std::string& path)
{
    const std::string name = "PSCSETUP_COM" + std::to_string(n);
    setenv(name.c_str(), path.c_str(), 1);
}

std::string MissingPortPath(int n)
{
    return "/tmp/pscsetup-dialog-test-no-port-" + std::to_string(n);
}

bool PortHeld(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
    close(fd);
    return held;
}

bool DialogSession::Run(const Script& script)
{
    g_messages.clear();
    QWidget* dialog = nullptr;
    bool shown = false;

    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&dialog] { AnswerMessageBox(dialog); });
    answerer.start(5);

    // Runs on the first turn of the dialog's modal loop, when it is on screen.
    QTimer::singleShot(0, [&] {
        CWinApp* app = AfxGetApp();
        CDialog* main = app ? app->m_pMainWnd : nullptr;
        dialog = main ? dynamic_cast<QWidget*>(main->GetWindow()) : nullptr;
        if (!dialog)
            return;
        shown = dialog->isVisible();
        DialogSession session(dialog);
        script(session);
        if (!session.Ended())
            dialog->close();
    });
    AfxWinMain(kProgramPath);
    answerer.stop();
    return shown;
}

QPushButton* DialogSession::Button(int id) const
{
    return qobject_cast<QPushButton*>(afx::qt::FindControl(m_dialog, id));
}

QComboBox* DialogSession::Combo(int id) const
{
    return qobject_cast<QComboBox*>(afx::qt::FindControl(m_dialog, id));
}

QLineEdit* DialogSession::Edit(int id) const
{
    return qobject_cast<QLineEdit*>(afx::qt::FindControl(m_dialog, id));
}

void DialogSession::Click(int id)
{
    if (QPushButton* button = Button(id))
        QTest::mouseClick(button, Qt::LeftButton);
}

void DialogSession::Select(int id, int index)
{
    if (QComboBox* combo = Combo(id))
        combo->setCurrentIndex(index);
}

void DialogSession::PressKey(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QWidget* target = m_dialog->focusWidget() ? m_dialog->focusWidget() : m_dialog;
    QTest::keyClick(target, key, modifiers);
}

bool DialogSession::Ended() const
{
    return !m_dialog->isVisible();
}

std::vector<Message> DialogSession::TakeMessages()
{
    std::vector<Message> taken;
    taken.swap(g_messages);
    return taken;
}

bool ButtonStates::operator==(const ButtonStates& other) const
{
    return open == other.open && close == other.close && setAddress == other.setAddress &&
           setMode == other.setMode && readStatus == other.readStatus;
}

ButtonStates ReadButtons(const DialogSession& session)
{
    auto enabled = [&](int id) {
        const QPushButton* button = session.Button(id);
        return button != nullptr && button->isEnabled();
    };
    return ButtonStates{enabled(IDC_OPEN_PORT), enabled(IDC_CLOSE_PORT), enabled(IDC_SET_ADDRESS),
                        enabled(IDC_SET_MODE), enabled(IDC_READ_STATUS)};
}

void PrintTo(const ButtonStates& states, std::ostream* os)
{
    auto mark = [](bool on) { return on ? "on" : "off"; };
    *os << "{open " << mark(states.open) << ", close " << mark(states.close) << ", set address "
        << mark(states.setAddress) << ", set mode " << mark(states.setMode) << ", read status "
        << mark(states.readStatus) << "}";
}

}  // namespace dialogtest
