// The dialog framework's window on Qt Widgets: a QDialog built from a dialog template.
#include "platform/qt/qt_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <algorithm>
#include <map>
#include <vector>

#include "platform/afx/dialog_window.h"
#include "platform/qt/qt_icon.h"

namespace afx {
namespace {

QString FromUtf8(const char* text)
{
    return QString::fromUtf8(text ? text : "");
}

// Templates name the Windows Song face; on Linux it is known by other names, and
// without a substitute fontconfig hands out a Latin face that has no Chinese glyphs.
void RegisterSongSubstitutes()
{
    static const bool registered = [] {
        const QStringList song = {
            QStringLiteral("SimSun"),          QStringLiteral("NSimSun"),
            QStringLiteral("AR PL UMing CN"),  QStringLiteral("AR PL SungtiL GB"),
            QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Source Han Serif SC"),
        };
        QFont::insertSubstitutions(QString::fromUtf8("宋体"), song);
        QFont::insertSubstitutions(QStringLiteral("SimSun"), song.mid(1));
        return true;
    }();
    (void)registered;
}

QFont DialogFont(const DialogTemplate& tpl)
{
    RegisterSongSubstitutes();
    QFont font(FromUtf8(tpl.fontName));
    font.setPointSize(tpl.fontPointSize > 0 ? tpl.fontPointSize : 9);
    return font;
}

// Dialog units to pixels as the Windows dialog manager converts them: a horizontal unit
// is a quarter of the font's average character width, a vertical one an eighth of its
// height, rounded to the nearest pixel.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font)
    {
        const QFontMetrics metrics(font);
        const int width = metrics.horizontalAdvance(
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        m_baseX = (width / 26 + 1) / 2;
        m_baseY = metrics.height();
        if (m_baseX <= 0)
            m_baseX = 1;
        if (m_baseY <= 0)
            m_baseY = 1;
    }

    int X(int du) const { return Scale(du, m_baseX, 4); }
    int Y(int du) const { return Scale(du, m_baseY, 8); }

private:
    static int Scale(int value, int num, int den)
    {
        const long long product = static_cast<long long>(value) * num;
        const long long rounded = product >= 0 ? product + den / 2 : product - den / 2;
        return static_cast<int>(rounded / den);
    }

    int m_baseX = 1;
    int m_baseY = 1;
};

QMessageBox::Icon ToMessageBoxIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Stop: return QMessageBox::Critical;
    case MessageIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

class NullPaintContext final : public PaintContext {
public:
    void EraseIconBackground() override {}
    void DrawIcon(int, int, IconHandle) override {}
};

// Painting is only possible inside a paint event, which is where the framework's
// paint handler runs.
class WidgetPaintContext final : public PaintContext {
public:
    explicit WidgetPaintContext(QWidget* widget) : m_widget(widget), m_painter(widget) {}

    void EraseIconBackground() override { m_painter.fillRect(m_widget->rect(), m_widget->palette().window()); }

    void DrawIcon(int x, int y, IconHandle icon) override
    {
        const QImage image = qt::ImageForSize(icon, SystemIconSize());
        if (!image.isNull())
            m_painter.drawImage(QPoint(x, y), image);
    }

private:
    QWidget* m_widget;
    QPainter m_painter;
};

// A group box drawn the Windows way: the frame's top edge runs through the middle of
// the title, so the template's positions leave room for the controls inside.
class GroupFrame final : public QGroupBox {
public:
    GroupFrame(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        constexpr int kTitleIndent = 8;
        constexpr int kTitlePadding = 2;
        QPainter painter(this);
        const QFontMetrics metrics(font());
        // An etched edge: a shadow line with a light line inside and below it.
        const QRect frame = rect().adjusted(0, metrics.height() / 2, -1, -1);
        painter.setPen(palette().color(QPalette::Light));
        painter.drawRect(frame.adjusted(1, 1, 0, 0));
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(frame.adjusted(0, 0, -1, -1));
        if (title().isEmpty())
            return;
        const QRect text(kTitleIndent, 0, metrics.horizontalAdvance(title()), metrics.height());
        painter.fillRect(text.adjusted(-kTitlePadding, 0, kTitlePadding, 0), palette().window());
        style()->drawItemText(&painter, text, Qt::AlignLeft | Qt::AlignTop | Qt::TextHideMnemonic, palette(),
                              isEnabled(), title(), QPalette::WindowText);
    }
};

class QtDialogWindow final : public QDialog, public DialogWindow {
public:
    QtDialogWindow(const DialogTemplate& tpl, CDialog& owner, QWidget* parent)
        : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
          m_owner(owner)
    {
        setWindowTitle(FromUtf8(tpl.caption));
        setFont(DialogFont(tpl));
        const DialogUnits units(font());
        setFixedSize(units.X(tpl.cx), units.Y(tpl.cy));
        for (std::size_t i = 0; i < tpl.controlCount; ++i)
            AddControl(tpl.controls[i], units);
        for (QWidget* group : m_groups)
            group->lower();
        for (std::size_t i = 1; i < m_tabOrder.size(); ++i)
            setTabOrder(m_tabOrder[i - 1], m_tabOrder[i]);
    }

    bool Ended() const { return m_ended; }
    int Result() const { return m_result; }

    // The first enabled control in tab order takes the focus, as after WM_INITDIALOG.
    void FocusFirstControl()
    {
        for (QWidget* widget : m_tabOrder) {
            if (widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus) != 0) {
                widget->setFocus(Qt::OtherFocusReason);
                return;
            }
        }
    }

    // Centres the window on the work area of the primary screen.
    void CentreOnPrimaryScreen()
    {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (!screen)
            return;
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        setGeometry(frame);
    }

    // DialogWindow
    bool AddComboItem(int id, const std::string& text) override
    {
        auto* combo = Control<QComboBox>(id);
        if (!combo)
            return false;
        combo->addItem(QString::fromStdString(text));
        return true;
    }

    bool SetComboSelection(int id, int index) override
    {
        auto* combo = Control<QComboBox>(id);
        if (!combo)
            return false;
        // Like CB_SETCURSEL: an index out of range clears the selection and fails.
        const bool valid = index >= 0 && index < combo->count();
        combo->setCurrentIndex(valid ? index : -1);
        return valid || index == -1;
    }

    int GetComboSelection(int id) const override
    {
        const auto* combo = Control<QComboBox>(id);
        return combo ? combo->currentIndex() : -1;
    }

    bool SetControlText(int id, const std::string& text) override
    {
        const QString value = QString::fromStdString(text);
        if (auto* edit = Control<QLineEdit>(id)) {
            edit->setText(value);
            edit->setCursorPosition(0);
            return true;
        }
        if (auto* button = Control<QPushButton>(id)) {
            button->setText(value);
            return true;
        }
        if (auto* combo = Control<QComboBox>(id)) {
            const int index = combo->findText(value, Qt::MatchExactly);
            combo->setCurrentIndex(index);
            return index >= 0;
        }
        return false;
    }

    bool GetControlText(int id, std::string& text) const override
    {
        if (const auto* edit = Control<QLineEdit>(id)) {
            text = edit->text().toStdString();
            return true;
        }
        if (const auto* button = Control<QPushButton>(id)) {
            text = button->text().toStdString();
            return true;
        }
        if (const auto* combo = Control<QComboBox>(id)) {
            text = combo->currentText().toStdString();
            return true;
        }
        return false;
    }

    bool HasControl(int id) const override { return m_controls.count(id) != 0; }

    void EnableControl(int id, bool enable) override
    {
        if (QWidget* widget = Find(id))
            widget->setEnabled(enable);
    }

    void SetIcon(IconHandle icon, bool big) override
    {
        (big ? m_bigIcon : m_smallIcon) = icon;
        QIcon combined = qt::ToIcon(m_bigIcon);
        if (m_smallIcon != m_bigIcon) {
            const QIcon small = qt::ToIcon(m_smallIcon);
            for (const QSize& size : small.availableSizes())
                combined.addPixmap(small.pixmap(size));
        }
        setWindowIcon(combined);
    }

    bool IsMinimised() const override { return isMinimized(); }

    void ClientSize(int& width, int& height) const override
    {
        width = this->width();
        height = this->height();
    }

    std::unique_ptr<PaintContext> BeginPaint() override
    {
        if (m_inPaintEvent)
            return std::make_unique<WidgetPaintContext>(this);
        return std::make_unique<NullPaintContext>();
    }

    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override
    {
        QMessageBox box(ToMessageBoxIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                        QMessageBox::Ok, this);
        box.exec();
    }

    void EndModal(int result) override
    {
        m_ended = true;
        m_result = result;
        if (isVisible())
            done(result);
    }

protected:
    // Alt+F4 belongs to the window whichever control has the focus: a list would take
    // it as its own key to drop down.
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && IsAltF4(*static_cast<QKeyEvent*>(event))) {
            event->accept();
            m_owner.AfxDispatchCancel();
            return true;
        }
        return QDialog::eventFilter(watched, event);
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        const bool alt = event->modifiers().testFlag(Qt::AltModifier);
        if (IsAltF4(*event)) {
            event->accept();
            m_owner.AfxDispatchCancel();
            return;
        }
        if (!alt && event->key() == Qt::Key_Escape) {
            event->accept();
            m_owner.AfxDispatchCancel();
            return;
        }
        if (!alt && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
            event->accept();
            // Enter presses the focused push button; anywhere else it is the OK command.
            auto* button = qobject_cast<QPushButton*>(focusWidget());
            if (button && button->isEnabled())
                button->click();
            else
                m_owner.AfxDispatchOk();
            return;
        }
        // Not QDialog's handling: it would reject on Escape and press a default button.
        QWidget::keyPressEvent(event);
    }

    void closeEvent(QCloseEvent* event) override
    {
        // The close box cancels; the dialog goes away when the framework ends it.
        event->ignore();
        if (!m_ended)
            m_owner.AfxDispatchCancel();
    }

    void paintEvent(QPaintEvent* event) override
    {
        QDialog::paintEvent(event);
        m_inPaintEvent = true;
        m_owner.AfxDispatchPaint();
        m_inPaintEvent = false;
    }

private:
    static bool IsAltF4(const QKeyEvent& event)
    {
        return event.key() == Qt::Key_F4 && event.modifiers().testFlag(Qt::AltModifier);
    }

    void AddControl(const ControlTemplate& ctl, const DialogUnits& units)
    {
        const QRect area(units.X(ctl.x), units.Y(ctl.y), units.X(ctl.cx), units.Y(ctl.cy));
        const Qt::FocusPolicy focus = (ctl.styles & kStyleTabStop) ? Qt::StrongFocus : Qt::ClickFocus;
        QWidget* widget = nullptr;
        switch (ctl.kind) {
        case ControlKind::PushButton: {
            auto* button = new QPushButton(FromUtf8(ctl.text), this);
            // Enter is the dialog's to handle; Qt must not press a default button itself.
            button->setAutoDefault(false);
            button->setDefault(false);
            const int id = ctl.id;
            connect(button, &QPushButton::clicked, this, [this, id] { m_owner.AfxDispatchCommand(id); });
            button->setGeometry(area);
            widget = button;
            break;
        }
        case ControlKind::GroupBox: {
            auto* group = new GroupFrame(FromUtf8(ctl.text), this);
            // A frame drawn behind the controls, never in the way of a click.
            group->setAttribute(Qt::WA_TransparentForMouseEvents);
            group->setFocusPolicy(Qt::NoFocus);
            group->setGeometry(area);
            m_groups.push_back(group);
            widget = group;
            break;
        }
        case ControlKind::DropDownList: {
            auto* combo = new QComboBox(this);
            combo->setEditable(false);
            // The template height includes the dropped list; the closed box is one line.
            const int closed = combo->sizeHint().height();
            combo->setGeometry(area.x(), area.y(), area.width(), closed);
            const int lineHeight = QFontMetrics(font()).height() + 2;
            combo->setMaxVisibleItems(std::max(1, (area.height() - closed) / std::max(1, lineHeight)));
            widget = combo;
            break;
        }
        case ControlKind::Edit: {
            auto* edit = new QLineEdit(FromUtf8(ctl.text), this);
            const bool readOnly = (ctl.styles & kStyleReadOnly) != 0;
            edit->setReadOnly(readOnly);
            if (ctl.styles & kStyleCentred)
                edit->setAlignment(Qt::AlignCenter);
            if (readOnly) {
                // A read-only edit shows the dialog's face colour, as on Windows.
                QPalette palette = edit->palette();
                palette.setColor(QPalette::Base, palette.color(QPalette::Window));
                edit->setPalette(palette);
            }
            edit->setGeometry(area);
            widget = edit;
            break;
        }
        }
        if (!widget)
            return;
        widget->setProperty(qt::kControlIdProperty, ctl.id);
        widget->setEnabled((ctl.styles & kStyleDisabled) == 0);
        if (ctl.kind != ControlKind::GroupBox) {
            widget->installEventFilter(this);
            widget->setFocusPolicy(focus);
            m_tabOrder.push_back(widget);
        }
        if (ctl.id != -1)
            m_controls.emplace(ctl.id, widget);
    }

    QWidget* Find(int id) const
    {
        const auto found = m_controls.find(id);
        return found == m_controls.end() ? nullptr : found->second;
    }

    template <typename Widget>
    Widget* Control(int id) const
    {
        return qobject_cast<Widget*>(Find(id));
    }

    CDialog& m_owner;
    std::map<int, QWidget*> m_controls;
    std::vector<QWidget*> m_tabOrder;
    std::vector<QWidget*> m_groups;
    IconHandle m_bigIcon = nullptr;
    IconHandle m_smallIcon = nullptr;
    bool m_ended = false;
    int m_result = IDCANCEL;
    bool m_inPaintEvent = false;
};

}  // namespace

int RunModalDialog(const DialogTemplate& tpl, CDialog& dialog, CDialog* parent)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return -1;
    QWidget* parentWidget = nullptr;
    if (parent)
        parentWidget = dynamic_cast<QtDialogWindow*>(parent->GetWindow());

    QtDialogWindow window(tpl, dialog, parentWidget);
    dialog.AfxAttachWindow(&window);
    const int focusFirst = dialog.AfxInitDialog();
    if (!window.Ended()) {
        if (focusFirst)
            window.FocusFirstControl();
        window.CentreOnPrimaryScreen();
        window.exec();
    }
    dialog.AfxAttachWindow(nullptr);
    return window.Result();
}

}  // namespace afx

namespace afx::qt {

QWidget* FindControl(const QWidget* dialog, int id)
{
    if (!dialog || id == -1)
        return nullptr;
    for (QWidget* child : dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child->property(kControlIdProperty).toInt() == id && child->property(kControlIdProperty).isValid())
            return child;
    }
    return nullptr;
}

}  // namespace afx::qt
