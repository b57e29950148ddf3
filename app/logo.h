// The tool's logo for the main window, drawn rather than loaded so that no image file can go
// missing.
#pragma once

#include <QPainter>
#include <QPixmap>

QPixmap DrawLogo(int width, int height);

// The drawing itself, in a width x height area at the painter's origin (the program's icon is
// drawn from it too, scaled).
void PaintLogo(QPainter& p, int width, int height);
