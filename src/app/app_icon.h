// The program's icon, painted rather than shipped as a file: a green tile with a circuit
// loop and two coloured racing lines.
#pragma once

#include <QIcon>

namespace lapquill {

QIcon AppIcon();
// Writes the icon as PNG files of the usual sizes into a folder (for the desktop entry).
bool WriteAppIconPng(const QString& path, int size);

}  // namespace lapquill
