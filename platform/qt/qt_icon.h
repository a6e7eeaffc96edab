// The program's 16-colour icon images as Qt images and icons.
#pragma once

#include <QIcon>
#include <QImage>

#include "platform/afx/dialog.h"
#include "platform/afx/dialog_template.h"

namespace afx::qt {

// One icon image with its transparent pixels as alpha 0.
QImage ToImage(const IconImage& image);

// Every image behind an icon handle from LoadIconResource; empty for null.
QIcon ToIcon(IconHandle icon);

// The image of `icon` closest to `size` pixels; null image for a null handle.
QImage ImageForSize(IconHandle icon, int size);

}  // namespace afx::qt
