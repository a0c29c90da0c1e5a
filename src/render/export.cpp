#include "render/export.hpp"

#include "platform/atomic_file.hpp"
#include "platform/error.hpp"

#include <QBuffer>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <string_view>

namespace quillan {

PictureFormat picture_format_of(const std::string& path) {
    const auto dot = path.find_last_of('.');
    std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == "png") return PictureFormat::Png;
    if (ext == "svg") return PictureFormat::Svg;
    if (ext == "pdf") return PictureFormat::Pdf;
    throw QuillanError("Cannot write the picture " + path + ": name it .png, .svg or .pdf to choose its format.");
}

namespace {

void encode_png(const Scene& scene, QBuffer& buffer, int dpi, QSize px) {
    QImage image(px, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    const int per_metre = static_cast<int>(std::lround(dpi / 0.0254));
    image.setDotsPerMeterX(per_metre);
    image.setDotsPerMeterY(per_metre);
    {
        QPainter painter(&image);
        paint_scene(painter, scene, QRectF(QPointF(0, 0), QSizeF(px)));
    }
    image.save(&buffer, "PNG");
}

void encode_svg(const Scene& scene, QBuffer& buffer, int dpi, QSize px) {
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    // As many pixels as the PNG would have, at its resolution: the same
    // size on paper; the drawing inside is in the scene's own units.
    svg.setSize(px);
    svg.setResolution(dpi);
    svg.setViewBox(QRectF(QPointF(0, 0), scene.size));
    svg.setTitle(QStringLiteral("quillan"));
    QPainter painter(&svg);
    paint_scene(painter, scene, QRectF(QPointF(0, 0), scene.size));
}

void encode_pdf(const Scene& scene, QBuffer& buffer) {
    QPdfWriter pdf(&buffer);
    pdf.setResolution(96);
    // A page the picture's size on paper: 96 layout pixels to the inch, 72 points.
    pdf.setPageSize(QPageSize(scene.size * 0.75, QPageSize::Point));
    pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
    pdf.setCreator(QStringLiteral("quillan"));
    QPainter painter(&pdf);
    paint_scene(painter, scene, QRectF(0, 0, pdf.width(), pdf.height()));
}

}  // namespace

QByteArray encode_picture(const Scene& scene, PictureFormat format, int dpi, QSize pixels) {
    // The size asked for is the file's size exactly, whatever the rounding
    // of the layout in between.
    if (!pixels.isValid() || pixels.isEmpty()) pixels = (scene.size * (dpi / 96.0)).toSize();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    switch (format) {
        case PictureFormat::Png:
            encode_png(scene, buffer, dpi, pixels);
            break;
        case PictureFormat::Svg:
            encode_svg(scene, buffer, dpi, pixels);
            break;
        case PictureFormat::Pdf:
            encode_pdf(scene, buffer);
            break;
    }
    return bytes;
}

void write_picture_file(const std::string& path, const QByteArray& bytes) {
    if (bytes.isEmpty()) throw QuillanError("Cannot write the picture " + path + ": nothing was drawn.");
    // The same save as every other file of the program: a folder or device in
    // the way is refused, links and permissions are kept, nothing half-written.
    write_file_atomically(path, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void save_picture(const Scene& scene, const std::string& path, int dpi, QSize pixels) {
    write_picture_file(path, encode_picture(scene, picture_format_of(path), dpi, pixels));
}

}  // namespace quillan
