// Build tool: renders the tool's logo (logo.cpp) as a square icon, the badge centred.
//   nx480-icon OUT.png SIZE              one PNG (the Linux icons, packaging/)
//   nx480-icon OUT.ico SIZE SIZE...      a Windows icon, one PNG image per size (at most 256)
#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <string>
#include <vector>

#include "logo.h"

namespace {

// The logo as the main window shows it.
constexpr int kLogoWidth = 105;
constexpr int kLogoHeight = 49;

QImage Render(int size) {
  QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
  icon.fill(Qt::transparent);
  QPainter p(&icon);
  const double scale = static_cast<double>(size) / kLogoWidth;
  p.translate(0, (size - kLogoHeight * scale) / 2);
  p.scale(scale, scale);
  PaintLogo(p, kLogoWidth, kLogoHeight);
  return icon;
}

void PutLittle(QByteArray& out, unsigned value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.append(static_cast<char>((value >> (8 * i)) & 0xff));
}

// An .ico file: the directory (6 bytes), an entry of 16 bytes per image, then the images as PNG
// (which Windows reads in icons since Vista). A width or height of 256 is written as 0.
QByteArray IconFile(const std::vector<int>& sizes) {
  std::vector<QByteArray> pngs;
  for (int size : sizes) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    Render(size).save(&buffer, "PNG");
    pngs.push_back(png);
  }
  QByteArray out;
  PutLittle(out, 0, 2);  // reserved
  PutLittle(out, 1, 2);  // an icon
  PutLittle(out, static_cast<unsigned>(sizes.size()), 2);
  unsigned offset = 6 + 16 * static_cast<unsigned>(sizes.size());
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const unsigned side = sizes[i] == 256 ? 0 : static_cast<unsigned>(sizes[i]);
    PutLittle(out, side, 1);
    PutLittle(out, side, 1);
    PutLittle(out, 0, 1);   // no palette
    PutLittle(out, 0, 1);   // reserved
    PutLittle(out, 1, 2);   // colour planes
    PutLittle(out, 32, 2);  // bits per pixel
    PutLittle(out, static_cast<unsigned>(pngs[i].size()), 4);
    PutLittle(out, offset, 4);
    offset += static_cast<unsigned>(pngs[i].size());
  }
  for (const QByteArray& png : pngs) out.append(png);
  return out;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::string out = argc >= 3 ? argv[1] : "";
  const bool ico = out.size() > 4 && out.substr(out.size() - 4) == ".ico";
  if (argc < 3 || (!ico && argc != 3)) {
    std::fprintf(stderr, "usage: nx480-icon OUT.png SIZE | nx480-icon OUT.ico SIZE...\n");
    return 2;
  }
  std::vector<int> sizes;
  for (int i = 2; i < argc; ++i) {
    sizes.push_back(std::stoi(argv[i]));
    if (sizes.back() < 1 || (ico && sizes.back() > 256)) {
      std::fprintf(stderr, "nx480-icon: no icon of size %s\n", argv[i]);
      return 2;
    }
  }
  // No display at build time.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QGuiApplication app(qtArgc, argv);

  bool written = false;
  if (ico) {
    QFile file(QString::fromLocal8Bit(argv[1]));
    const QByteArray bytes = IconFile(sizes);
    written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
  } else {
    written = Render(sizes.front()).save(QString::fromLocal8Bit(argv[1]), "PNG");
  }
  if (!written) {
    std::fprintf(stderr, "nx480-icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
