// Renders an SVG icon to a square PNG of a given size, for the icon theme's fixed-size folders.
// Needs a QGuiApplication.
#pragma once

#include <QString>

class IconRenderer {
public:
    // False, with `error` set to one line, when the SVG is invalid or the PNG not written.
    static bool render(const QString& svgPath, int size, const QString& pngPath, QString* error);
};
