// Drives the setup dialog the way an operator does: the program's application object
// runs it modally, a script clicks, selects and types from inside the modal loop, and
// every message box is read and answered with OK.
#pragma once

#include <QMessageBox>
#include <Qt>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;
class QWidget;

namespace dialogtest {

// The path the application is started under; the framework's error box is captioned
// with its file name.
inline constexpr char kProgramPath[] = "/usr/bin/pscsetup";

// PSCSETUP_COMn := path.
void MapComPort(int n, const std::string& path);
std::string MissingPortPath(int n);

// True while some open file on `path` holds its exclusive lock.
bool PortHeld(const std::string& path);

struct Message {
    std::string text;
    std::string caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool ownedByDialog = false;  // its parent is the dialog
    bool okOnly = false;         // one button, OK
};

class DialogSession {
public:
    using Script = std::function<void(DialogSession&)>;

    // Starts the application as pscsetup does and runs `script` once the dialog is up.
    // Returns when the dialog has ended and its object is gone; a dialog the script
    // leaves open is closed through its close box. False when the dialog never showed.
    static bool Run(const Script& script);

    QWidget* Dialog() const { return m_dialog; }
    QPushButton* Button(int id) const;
    QComboBox* Combo(int id) const;
    QLineEdit* Edit(int id) const;

    // A left mouse click on the push button; returns when its handler has finished.
    void Click(int id);
    void Select(int id, int index);
    // A key press and release on the control that has the focus.
    void PressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    bool Ended() const;

    // The message boxes shown since the last call, in order.
    std::vector<Message> TakeMessages();

private:
    explicit DialogSession(QWidget* dialog) : m_dialog(dialog) {}

    QWidget* m_dialog;
};

// Every enabled state of the five push buttons, open button first.
struct ButtonStates {
    bool open, close, setAddress, setMode, readStatus;
    bool operator==(const ButtonStates& other) const;
};
ButtonStates ReadButtons(const DialogSession& session);
void PrintTo(const ButtonStates& states, std::ostream* os);

inline constexpr ButtonStates kPortClosedButtons{true, false, false, false, false};
inline constexpr ButtonStates kPortOpenButtons{false, true, true, true, true};

}  // namespace dialogtest
