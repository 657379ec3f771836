#include "skin/SkinBitmap.h"

#include <QString>
#include <QWidget>
#include <mutex>

// The resource initialiser lives in this static library; referencing it here
// keeps the linker from dropping it.
static void InitialiseSkinResources() {
    Q_INIT_RESOURCE(bitmaps);
}

namespace kavrel {

QImage LoadSkinBitmap(int id) {
    static std::once_flag once;
    std::call_once(once, InitialiseSkinResources);
    return QImage(QStringLiteral(":/bitmaps/%1.bmp").arg(id));
}

QFont SkinFont() {
    return QFont(QStringLiteral("Times New Roman"), 10);
}

int ScreenHeightOf(const QWidget& widget) {
    return widget.window()->height();
}

}  // namespace kavrel
