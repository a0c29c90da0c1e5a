// Small conversions between the program's strings and Qt's, shared by the
// window's files: text as UTF-8, and file names in the system's encoding
// (bytes the system gave, handed back unchanged).
#pragma once

#include <QFile>
#include <QString>

#include <string>

namespace quillan {

inline std::string str(const QString& s) { return s.toStdString(); }
inline QString qstr(const std::string& s) { return QString::fromStdString(s); }
inline std::string native(const QString& s) { return QFile::encodeName(s).toStdString(); }
inline QString from_native(const std::string& s) { return QFile::decodeName(QByteArray::fromStdString(s)); }

}  // namespace quillan
