// Writes the program's own icon as PNG files for the desktop's icon theme, one per size
// that the program draws, as FOLDER/NxN/apps/vorlixa.png. The build runs it, so the
// installed icons are always the ones the program shows.
//
// usage: vorlixa-appicon FOLDER

#include "ui/AppIcon.h"

#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vorlixa-appicon FOLDER\n");
    return 2;
  }
  const QDir root(QString::fromLocal8Bit(argv[1]));
  for (const int size : vx::kAppIconSizes) {
    const QString folder = QStringLiteral("%1x%1/apps").arg(size);
    const QString file = root.filePath(folder + QStringLiteral("/vorlixa.png"));
    if (!root.mkpath(folder) || !vx::AppIconImage(size).save(file, "PNG")) {
      std::fprintf(stderr, "vorlixa-appicon: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
