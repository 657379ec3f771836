#include "tests/app/SimulatorPictures.h"

#include <QDir>
#include <QFile>
#include <QStringList>

namespace kavrel::test {

bool CornerShows(const QImage& picture, sim::Corner corner, sim::Rgb colour) {
    const sim::Point at = sim::CornerSampleAt(picture.width(), picture.height(), corner);
    const QRgb pixel = picture.pixel(at.x, at.y);
    const sim::Rgb seen{uint8_t(qRed(pixel)), uint8_t(qGreen(pixel)), uint8_t(qBlue(pixel))};
    return sim::ColourNear(seen, colour, kPictureTolerance);
}

bool CornersOfChannel(const QImage& picture, int channel) {
    if (picture.isNull())
        return false;
    for (sim::Corner corner : {sim::Corner::TopLeft, sim::Corner::TopRight, sim::Corner::BottomLeft,
                               sim::Corner::BottomRight}) {
        if (!CornerShows(picture, corner, sim::CornerColour(channel, corner)))
            return false;
    }
    return true;
}

QByteArray OnlySnapshot(const QTemporaryDir& folder) {
    const QStringList files = QDir(folder.path()).entryList({"image_*.bmp"}, QDir::Files);
    QFile file(files.size() == 1 ? folder.filePath(files[0]) : QString());
    return files.size() == 1 && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace kavrel::test
