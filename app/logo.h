// The tool's logo for the main window, drawn rather than loaded so that no image file can go
// missing.
#pragma once

#include <QPixmap>

QPixmap DrawLogo(int width, int height);
