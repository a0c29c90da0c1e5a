// Writing pictures: PNG through QImage, SVG through QSvgGenerator and PDF
// through QPdfWriter, all painting the same scene.
#pragma once

#include "figures/picture_size.hpp"
#include "render/scene.hpp"

#include <QByteArray>
#include <QSize>

#include <string>

namespace quillan {

enum class PictureFormat { Png, Svg, Pdf };

// The format named by a file's extension (.png, .svg, .pdf, any case);
// fails for any other.
PictureFormat picture_format_of(const std::string& path);

// The encoded picture, `dpi` pixels to the inch (the scene laid out at 96).
// A PNG has `pixels` (by default the scene's size times dpi / 96, rounded)
// and records its resolution; SVG and PDF stay lines and text, with that
// physical size.  Needs a QGuiApplication (for fonts); none of the formats
// needs a display.
QByteArray encode_picture(const Scene& scene, PictureFormat format, int dpi = 96, QSize pixels = {});

// Every picture file is written here: to a temporary file beside `path`,
// then renamed over it, so a failed write leaves an existing file whole.
// Fails with a message naming the file.
void write_picture_file(const std::string& path, const QByteArray& bytes);

// encode_picture in the format of the path's extension, then write_picture_file.
void save_picture(const Scene& scene, const std::string& path, int dpi = 96, QSize pixels = {});

}  // namespace quillan
