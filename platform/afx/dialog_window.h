// What a dialog backend provides: one live dialog window made from a template, and the
// modal run of it. The framework in dialog.h is written on these calls alone.
#pragma once

#include <memory>
#include <string>

#include "platform/afx/dialog.h"
#include "platform/afx/dialog_template.h"

namespace afx {

class PaintContext {
public:
    virtual ~PaintContext() = default;  // ends painting
    virtual void EraseIconBackground() = 0;
    virtual void DrawIcon(int x, int y, IconHandle icon) = 0;
};

class DialogWindow {
public:
    virtual ~DialogWindow() = default;

    virtual bool AddComboItem(int id, const std::string& text) = 0;
    virtual bool SetComboSelection(int id, int index) = 0;  // -1 clears the selection
    virtual int GetComboSelection(int id) const = 0;        // -1 when none
    virtual bool SetControlText(int id, const std::string& text) = 0;
    virtual bool GetControlText(int id, std::string& text) const = 0;
    virtual bool HasControl(int id) const = 0;
    virtual void EnableControl(int id, bool enable) = 0;
    virtual void SetIcon(IconHandle icon, bool big) = 0;
    virtual bool IsMinimised() const = 0;
    virtual void ClientSize(int& width, int& height) const = 0;
    virtual std::unique_ptr<PaintContext> BeginPaint() = 0;
    virtual void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
    virtual void EndModal(int result) = 0;
};

// Creates the window of `dialog` from `tpl`, attaches it (CDialog::AfxAttachWindow),
// calls AfxInitDialog before the window is shown, centres it on the primary screen's
// work area, and runs the modal loop until EndModal. Button clicks go to
// AfxDispatchCommand, OK and Cancel to AfxDispatchOk and AfxDispatchCancel.
int RunModalDialog(const DialogTemplate& tpl, CDialog& dialog, CDialog* parent);

// The backend's icon for a resource id, or null.
IconHandle LoadIconResource(unsigned id);

// The system's icon size in pixels.
int SystemIconSize();

}  // namespace afx
