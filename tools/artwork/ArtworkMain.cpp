// kavrel-artwork OUTPUT_DIR [SHEET.png]
// kavrel-artwork --icons ICON_THEME_DIR
//
// Draws every skin bitmap and the application icon into OUTPUT_DIR as
// "<id>.bmp" (24-bit, uncompressed) and writes "bitmaps.qrc" there, which
// lists them under the resource prefix "/bitmaps". With SHEET.png it also
// writes a contact sheet of all pictures at twice their size, to look at them
// side by side.
//
// With --icons it draws the desktop's application icon instead: the logo on a
// transparent ground, as ICON_THEME_DIR/<N>x<N>/apps/org.kavrel.Kavrel.png for
// each size a launcher asks for (the scalable SVG beside them is drawn by
// hand after the same shapes).
//
// Needs a Qt platform for fonts; QT_QPA_PLATFORM=offscreen works without a
// display.

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QTextStream>
#include <cstdio>
#include <cstring>

#include "skin/artwork/ArtworkCatalogue.h"
#include "skin/artwork/Glyphs.h"
#include "tools/artwork/BmpWriter.h"

namespace {

// The desktop id the program announces (app/COrvaneApp.h, kDesktopFileId).
constexpr const char* kIconName = "org.kavrel.Kavrel";
constexpr int kIconSizes[] = {22, 48, 64, 128, 256};

int WriteDesktopIcons(const QDir& theme) {
    for (const int pixels : kIconSizes) {
        QImage icon(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
        icon.fill(Qt::transparent);
        QPainter painter(&icon);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.scale(pixels / 100.0, pixels / 100.0);  // the logo's 100 x 100 design box
        kavrel::artwork::DrawLogo(painter);
        painter.end();
        const QString folder = QString("%1x%1/apps").arg(pixels);
        const QString path = theme.filePath(folder + "/" + kIconName + ".png");
        if (!theme.mkpath(folder) || !icon.save(path, "PNG")) {
            std::fprintf(stderr, "kavrel-artwork: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}

bool WriteContactSheet(const std::vector<kavrel::artwork::ArtworkEntry>& entries,
                       const QString& path) {
    constexpr int kCell = 180;
    constexpr int kColumns = 8;
    const int rows = (int(entries.size()) + kColumns - 1) / kColumns;
    QImage sheet(kColumns * kCell, rows * kCell, QImage::Format_RGB32);
    sheet.fill(QColor(96, 96, 96));
    QPainter painter(&sheet);
    for (size_t i = 0; i < entries.size(); ++i) {
        const QRect cell(int(i % kColumns) * kCell, int(i / kColumns) * kCell, kCell, kCell);
        const QImage picture = kavrel::artwork::Render(entries[i]);
        const QSize shown = (picture.size() * 2).boundedTo(QSize(kCell - 8, kCell - 24));
        painter.drawImage(QRect(cell.left() + 4, cell.top() + 4, shown.width(), shown.height()),
                          picture);
        painter.setPen(Qt::white);
        painter.drawText(
            cell.adjusted(4, 0, 0, -4), Qt::AlignLeft | Qt::AlignBottom,
            QString("%1 (%2x%3)").arg(entries[i].id).arg(picture.width()).arg(picture.height()));
    }
    painter.end();
    return sheet.save(path);
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--icons") == 0)
        return WriteDesktopIcons(QDir(QString::fromLocal8Bit(argv[2])));
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr,
                     "usage: kavrel-artwork OUTPUT_DIR [SHEET.png]\n"
                     "       kavrel-artwork --icons ICON_THEME_DIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "kavrel-artwork: cannot create %s\n", argv[1]);
        return 1;
    }

    QString qrc;
    QTextStream listing(&qrc);
    listing << "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"/bitmaps\">\n";
    const std::vector<kavrel::artwork::ArtworkEntry> entries = kavrel::artwork::Catalogue();
    for (const kavrel::artwork::ArtworkEntry& entry : entries) {
        const QString name = QString::number(entry.id) + ".bmp";
        if (!kavrel::artwork::WriteBmp24(kavrel::artwork::Render(entry), out.filePath(name))) {
            std::fprintf(stderr, "kavrel-artwork: cannot write %s\n", qPrintable(name));
            return 1;
        }
        listing << "    <file>" << name << "</file>\n";
    }
    listing << "</qresource>\n</RCC>\n";
    listing.flush();

    QFile qrcFile(out.filePath("bitmaps.qrc"));
    if (!qrcFile.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        qrcFile.write(qrc.toUtf8()) < 0) {
        std::fprintf(stderr, "kavrel-artwork: cannot write bitmaps.qrc\n");
        return 1;
    }
    if (argc == 3 && !WriteContactSheet(entries, QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "kavrel-artwork: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
