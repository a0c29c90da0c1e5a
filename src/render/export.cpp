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

QByteArray encode_picture(const Scene& scene, PictureFormat format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const QSize px = scene.size.toSize();
    switch (format) {
        case PictureFormat::Png: {
            QImage image(px, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::white);
            {
                QPainter painter(&image);
                paint_scene(painter, scene, QRectF(QPointF(0, 0), scene.size));
            }
            image.save(&buffer, "PNG");
            break;
        }
        case PictureFormat::Svg: {
            QSvgGenerator svg;
            svg.setOutputDevice(&buffer);
            svg.setSize(px);
            svg.setViewBox(QRect(QPoint(0, 0), px));
            svg.setResolution(96);  // a pixel of the picture is a CSS pixel of a browser
            svg.setTitle(QStringLiteral("quillan"));
            QPainter painter(&svg);
            paint_scene(painter, scene, QRectF(QPointF(0, 0), scene.size));
            break;
        }
        case PictureFormat::Pdf: {
            QPdfWriter pdf(&buffer);
            pdf.setResolution(96);
            // A page the picture's size: 96 pixels to the inch, 72 points.
            pdf.setPageSize(QPageSize(scene.size * 0.75, QPageSize::Point));
            pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
            pdf.setCreator(QStringLiteral("quillan"));
            QPainter painter(&pdf);
            paint_scene(painter, scene, QRectF(0, 0, pdf.width(), pdf.height()));
            break;
        }
    }
    return bytes;
}

void write_picture_file(const std::string& path, const QByteArray& bytes) {
    if (bytes.isEmpty()) throw QuillanError("Cannot write the picture " + path + ": nothing was drawn.");
    // The same save as every other file of the program: a folder or device in
    // the way is refused, links and permissions are kept, nothing half-written.
    write_file_atomically(path, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void save_picture(const Scene& scene, const std::string& path) {
    write_picture_file(path, encode_picture(scene, picture_format_of(path)));
}

}  // namespace quillan
