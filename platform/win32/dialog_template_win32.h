// The in-memory extended dialog template that the Windows dialog manager creates the
// dialog from, built from the program's one template description.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/afx/dialog_template.h"

namespace platform::win32 {

// The words of a DLGTEMPLATEEX with its DLGITEMTEMPLATEEX items; the vector's storage
// meets the template's DWORD alignment.
std::vector<std::uint16_t> BuildDialogTemplate(const afx::DialogTemplate& tpl);

}  // namespace platform::win32
