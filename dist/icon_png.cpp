// Draws the program's icon (icon group 100 of its resources, the picture that the window
// shows in its title bar) as the PNG files of the desktop's icon theme:
//   quillmote-icon FOLDER  writes FOLDER/NxN/apps/quillmote.png for each size.
// Each pixel of the 16 x 16 picture becomes a square block, so that every size stays sharp.
#include <QDir>
#include <QImage>
#include <QString>
#include <cstdio>

#include "app/resources.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quillmote-icon FOLDER\n");
    return 2;
  }
  const IconTemplate* icon = nullptr;
  for (int i = 0; i < QuillmoteResources.iconCount; ++i) {
    if (QuillmoteResources.icons[i].id == IDI_PROGRAM) icon = &QuillmoteResources.icons[i];
  }
  if (icon == nullptr) {
    std::fprintf(stderr, "quillmote-icon: the resources hold no icon %d\n", IDI_PROGRAM);
    return 1;
  }
  // The window's colours: dark pixels in blue, light ones white.
  QImage picture(icon->width, icon->height, QImage::Format_RGB32);
  for (int y = 0; y < icon->height; ++y) {
    for (int x = 0; x < icon->width; ++x) {
      bool dark = icon->rows[y][x] == '#';
      picture.setPixel(x, y, dark ? qRgb(0x1f, 0x4e, 0x9c) : qRgb(0xff, 0xff, 0xff));
    }
  }
  for (int scale : {1, 2, 3, 4, 8, 16}) {
    const int width = icon->width * scale, height = icon->height * scale;
    const QString folder =
        QStringLiteral("%1/%2x%3/apps").arg(QString::fromLocal8Bit(argv[1])).arg(width).arg(height);
    const QString file = folder + QStringLiteral("/quillmote.png");
    if (!QDir().mkpath(folder) || !picture.scaled(width, height).save(file, "PNG")) {
      std::fprintf(stderr, "quillmote-icon: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
