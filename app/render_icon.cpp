// Build tool: renders the tool's logo (logo.cpp) as a square PNG icon, the badge centred.
//   nx480-icon OUT.png SIZE
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <string>

#include "logo.h"

namespace {

// The logo as the main window shows it.
constexpr int kLogoWidth = 105;
constexpr int kLogoHeight = 49;

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: nx480-icon OUT.png SIZE\n");
    return 2;
  }
  const int size = std::stoi(argv[2]);
  // No display at build time.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QGuiApplication app(qtArgc, argv);

  QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
  icon.fill(Qt::transparent);
  {
    QPainter p(&icon);
    const double scale = static_cast<double>(size) / kLogoWidth;
    p.translate(0, (size - kLogoHeight * scale) / 2);
    p.scale(scale, scale);
    PaintLogo(p, kLogoWidth, kLogoHeight);
  }
  if (!icon.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "nx480-icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
