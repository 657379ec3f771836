#include "skin/MessageBox.h"

namespace kavrel {
namespace {

// Owned by the user-interface thread, like every message box.
MessageBoxHandler& InstalledHandler() {
    static MessageBoxHandler handler;
    return handler;
}

}  // namespace

QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const QString& caption,
                                           const QString& text,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::Icon icon) {
    // A copy, so a handler may replace itself while it runs.
    if (const MessageBoxHandler handler = InstalledHandler()) {
        return handler(parent, caption, text, buttons, icon);
    }
    QMessageBox box(icon, caption, text, buttons, parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler previous = std::move(InstalledHandler());
    InstalledHandler() = std::move(handler);
    return previous;
}

}  // namespace kavrel
