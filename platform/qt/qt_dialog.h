// What the Qt dialog backend shows of itself to tools and tests that drive a live
// dialog: its controls are found by their template ids.
#pragma once

#include <QWidget>

namespace afx::qt {

// Every control of a dialog window carries its template id in this property.
inline constexpr char kControlIdProperty[] = "afxControlId";

// The control with template id `id` (not -1) in a window made by RunModalDialog, or null.
QWidget* FindControl(const QWidget* dialog, int id);

}  // namespace afx::qt
