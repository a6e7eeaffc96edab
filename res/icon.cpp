// The program's icon, a picture of our own: a white power symbol on a blue tile.
// Each character is one pixel: a hexadecimal palette index, or '.' for transparent.
#include <iterator>

#include "platform/afx/dialog_template.h"
#include "res/resource.h"

namespace {

// The standard 16-colour palette.
const unsigned int kPalette[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};

const char* const kPicture32[32] = {
    "................................",
    "................................",
    ".....1111111111111111111111.....",
    "....144444444444444444444441....",
    "...14444444444FFFF44444444441...",
    "..144444444444FFFF444444444441..",
    "..144444444444FFFF444444444441..",
    "..144444444444FFFF444444444441..",
    "..1444444F4444FFFF4444F4444441..",
    "..144444FFF444FFFF444FFF444441..",
    "..14444FFFFF44FFFF44FFFFF44441..",
    "..14444FFFF444FFFF444FFFF44441..",
    "..1444FFFF4444FFFF4444FFFF4441..",
    "..1444FFFF4444FFFF4444FFFF4441..",
    "..1444FFF44444FFFF44444FFF4441..",
    "..1444FFF44444FFFF44444FFF4441..",
    "..1444FFF44444444444444FFF4441..",
    "..1444FFF44444444444444FFF4441..",
    "..1444FFFF444444444444FFFF4441..",
    "..1444FFFF444444444444FFFF4441..",
    "..14444FFFF4444444444FFFF44441..",
    "..14444FFFFF44444444FFFFF44441..",
    "..144444FFFFFF4444FFFFFF444441..",
    "..1444444FFFFFFFFFFFFFF4444441..",
    "..14444444FFFFFFFFFFFF44444441..",
    "..1444444444FFFFFFFF4444444441..",
    "..1444444444444444444444444441..",
    "...14444444444444444444444441...",
    "....144444444444444444444441....",
    ".....1111111111111111111111.....",
    "................................",
    "................................",
};

const char* const kPicture16[16] = {
    "................",
    "..111111111111..",
    ".144444FF444441.",
    ".144444FF444441.",
    ".144F44FF44F441.",
    ".14FFF4FF4FFF41.",
    ".14FF44FF44FF41.",
    ".14FF44FF44FF41.",
    ".14FF444444FF41.",
    ".14FF444444FF41.",
    ".14FFF4444FFF41.",
    ".144FFFFFFFF441.",
    ".1444FFFFFF4441.",
    ".14444444444441.",
    "..111111111111..",
    "................",
};

template <int N>
struct DecodedImage {
    unsigned char pixels[N * N];
    unsigned char opaque[N * N];

    explicit DecodedImage(const char* const (&rows)[N])
    {
        for (int y = 0; y < N; ++y) {
            for (int x = 0; x < N; ++x) {
                const char c = rows[y][x];
                const int i = y * N + x;
                opaque[i] = c != '.';
                pixels[i] = static_cast<unsigned char>(
                    c == '.' ? 0 : (c <= '9' ? c - '0' : c - 'A' + 10));
            }
        }
    }
};

const DecodedImage<32> kImage32(kPicture32);
const DecodedImage<16> kImage16(kPicture16);

const afx::IconImage kImages[] = {
    {32, kPalette, kImage32.pixels, kImage32.opaque},
    {16, kPalette, kImage16.pixels, kImage16.opaque},
};

const afx::IconResource kMainIcon = {IDR_MAINFRAME, kImages, std::size(kImages)};

}  // namespace

const afx::IconResource* AfxFindIconResource(unsigned id)
{
    return id == IDR_MAINFRAME ? &kMainIcon : nullptr;
}
