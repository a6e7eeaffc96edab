// A dialog template as data: the window, its controls in tab order, and the items of
// its lists. Positions and sizes are in dialog units; each backend converts them with
// the dialog font's base units.
#pragma once

#include <cstddef>

namespace afx {

enum class ControlKind { PushButton, GroupBox, DropDownList, Edit };

// Control styles beyond "child, visible", which every control has.
enum ControlStyle : unsigned {
    kStyleTabStop = 1u << 0,
    kStyleDisabled = 1u << 1,
    kStyleVScroll = 1u << 2,
    kStyleReadOnly = 1u << 3,
    kStyleCentred = 1u << 4,
    kStyleAutoHScroll = 1u << 5,
};

struct ControlTemplate {
    int id;  // -1 for static controls such as group boxes
    ControlKind kind;
    const char* text;  // UTF-8
    int x, y, cx, cy;
    unsigned styles;
};

// The items a list receives when the dialog is created, in order.
struct ListInitData {
    int id;
    const char* const* items;
    std::size_t count;
};

struct DialogTemplate {
    unsigned id;
    int x, y, cx, cy;
    const char* caption;   // UTF-8
    const char* fontName;  // UTF-8
    int fontPointSize;
    const ControlTemplate* controls;
    std::size_t controlCount;
    const ListInitData* lists;
    std::size_t listCount;
};

// One image of an icon: 16 colours, one palette index per pixel, row by row from the top.
struct IconImage {
    int size;                       // width and height in pixels
    const unsigned int* palette;    // 16 entries, 0xRRGGBB
    const unsigned char* pixels;    // size * size palette indices
    const unsigned char* opaque;    // size * size flags: 1 = drawn, 0 = transparent
};

struct IconResource {
    unsigned id;
    const IconImage* images;
    std::size_t imageCount;
};

}  // namespace afx

// Resource lookup: the program's resources provide these (null when there is no such id).
const afx::DialogTemplate* AfxFindDialogTemplate(unsigned id);
const afx::IconResource* AfxFindIconResource(unsigned id);
