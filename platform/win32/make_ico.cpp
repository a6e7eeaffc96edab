// Writes the program's icon resource as a Windows .ico file, from the same images the
// program draws everywhere else (res/icon.cpp): one 16-colour image per size.
// Usage: make_ico OUTPUT.ico
// Built for the machine that runs the build, so it uses the standard library alone.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <vector>

#include "platform/afx/dialog_template.h"
#include "res/resource.h"

namespace {

class Bytes {
public:
    void U8(unsigned value) { m_data.push_back(static_cast<std::uint8_t>(value & 0xFFu)); }
    void U16(unsigned value)
    {
        U8(value);
        U8(value >> 8);
    }
    void U32(std::uint32_t value)
    {
        U16(value & 0xFFFFu);
        U16(value >> 16);
    }
    void Append(const std::vector<std::uint8_t>& more) { m_data.insert(m_data.end(), more.begin(), more.end()); }
    const std::vector<std::uint8_t>& Data() const { return m_data; }
    std::size_t Size() const { return m_data.size(); }

private:
    std::vector<std::uint8_t> m_data;
};

std::size_t RowBytes(int width, int bitsPerPixel)
{
    return ((static_cast<std::size_t>(width) * static_cast<std::size_t>(bitsPerPixel) + 31) / 32) * 4;
}

// One icon image: a bitmap header of double height (colour image and mask), the
// palette, the 4-bit colour image and the 1-bit mask, both bottom row first. Masked
// pixels are black in the colour image, so the background shows through unchanged.
std::vector<std::uint8_t> EncodeImage(const afx::IconImage& image)
{
    const int n = image.size;
    const std::size_t colourRow = RowBytes(n, 4);
    const std::size_t maskRow = RowBytes(n, 1);
    Bytes out;
    out.U32(40);
    out.U32(static_cast<std::uint32_t>(n));
    out.U32(static_cast<std::uint32_t>(2 * n));
    out.U16(1);  // planes
    out.U16(4);  // bits per pixel
    out.U32(0);  // uncompressed
    out.U32(static_cast<std::uint32_t>((colourRow + maskRow) * static_cast<std::size_t>(n)));
    out.U32(0);
    out.U32(0);
    out.U32(16);  // colours used
    out.U32(0);
    for (int i = 0; i < 16; ++i) {
        const unsigned rgb = image.palette[i];
        out.U8(rgb);        // blue
        out.U8(rgb >> 8);   // green
        out.U8(rgb >> 16);  // red
        out.U8(0);
    }
    for (int y = n - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(colourRow, 0);
        for (int x = 0; x < n; ++x) {
            const int i = y * n + x;
            const unsigned index = image.opaque[i] ? (image.pixels[i] & 0x0Fu) : 0u;
            row[static_cast<std::size_t>(x / 2)] |= static_cast<std::uint8_t>(x % 2 == 0 ? index << 4 : index);
        }
        out.Append(row);
    }
    for (int y = n - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(maskRow, 0);
        for (int x = 0; x < n; ++x) {
            if (!image.opaque[y * n + x])
                row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
        }
        out.Append(row);
    }
    return out.Data();
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_ico OUTPUT.ico\n");
        return 2;
    }
    const afx::IconResource* icon = AfxFindIconResource(IDR_MAINFRAME);
    if (!icon || icon->imageCount == 0) {
        std::fprintf(stderr, "make_ico: the program has no icon %d\n", IDR_MAINFRAME);
        return 1;
    }

    std::vector<std::vector<std::uint8_t>> images;
    for (std::size_t i = 0; i < icon->imageCount; ++i)
        images.push_back(EncodeImage(icon->images[i]));

    Bytes file;
    file.U16(0);  // reserved
    file.U16(1);  // an icon, not a cursor
    file.U16(static_cast<unsigned>(images.size()));
    std::size_t offset = 6 + 16 * images.size();
    for (std::size_t i = 0; i < images.size(); ++i) {
        const int n = icon->images[i].size;
        file.U8(n >= 256 ? 0u : static_cast<unsigned>(n));
        file.U8(n >= 256 ? 0u : static_cast<unsigned>(n));
        file.U8(16);  // colours
        file.U8(0);
        file.U16(1);  // planes
        file.U16(4);  // bits per pixel
        file.U32(static_cast<std::uint32_t>(images[i].size()));
        file.U32(static_cast<std::uint32_t>(offset));
        offset += images[i].size();
    }
    for (const auto& image : images)
        file.Append(image);

    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.Data().data()), static_cast<std::streamsize>(file.Size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_ico: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
