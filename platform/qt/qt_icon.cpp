#include "platform/qt/qt_icon.h"

#include <QPixmap>

#include <cstdlib>
#include <map>
#include <vector>

#include "platform/afx/dialog_window.h"

namespace {

// What an icon handle points at. Images, not pixmaps: a handle may be loaded before
// the window system is up and outlive it.
struct LoadedIcon {
    std::vector<QImage> images;
};

std::map<unsigned, LoadedIcon>& IconCache()
{
    static std::map<unsigned, LoadedIcon> cache;
    return cache;
}

const LoadedIcon* FromHandle(IconHandle icon)
{
    return static_cast<const LoadedIcon*>(icon);
}

}  // namespace

namespace afx::qt {

QImage ToImage(const IconImage& image)
{
    QImage result(image.size, image.size, QImage::Format_ARGB32);
    for (int y = 0; y < image.size; ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < image.size; ++x) {
            const int i = y * image.size + x;
            const unsigned rgb = image.palette[image.pixels[i] & 0x0F];
            line[x] = image.opaque[i] ? (0xFF000000u | rgb) : 0u;
        }
    }
    return result;
}

QIcon ToIcon(IconHandle icon)
{
    QIcon result;
    if (const LoadedIcon* loaded = FromHandle(icon)) {
        for (const QImage& image : loaded->images)
            result.addPixmap(QPixmap::fromImage(image));
    }
    return result;
}

QImage ImageForSize(IconHandle icon, int size)
{
    const LoadedIcon* loaded = FromHandle(icon);
    if (!loaded || loaded->images.empty())
        return {};
    const QImage* best = &loaded->images.front();
    for (const QImage& image : loaded->images) {
        if (std::abs(image.width() - size) < std::abs(best->width() - size))
            best = &image;
    }
    return best->width() == size ? *best : best->scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

}  // namespace afx::qt

namespace afx {

IconHandle LoadIconResource(unsigned id)
{
    auto& cache = IconCache();
    const auto found = cache.find(id);
    if (found != cache.end())
        return &found->second;
    const IconResource* resource = AfxFindIconResource(id);
    if (!resource || resource->imageCount == 0)
        return nullptr;
    LoadedIcon loaded;
    for (std::size_t i = 0; i < resource->imageCount; ++i)
        loaded.images.push_back(qt::ToImage(resource->images[i]));
    return &cache.emplace(id, std::move(loaded)).first->second;
}

int SystemIconSize()
{
    return 32;
}

}  // namespace afx
