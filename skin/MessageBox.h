#pragma once
// The program's one way to show a message box, so tests can answer instead of
// a person. Every message box of the program goes through ShowMessageBox.
// User-interface thread only.

#include <QMessageBox>
#include <QString>
#include <functional>

namespace kavrel {

using MessageBoxHandler = std::function<QMessageBox::StandardButton(
    QWidget* parent, const QString& caption, const QString& text,
    QMessageBox::StandardButtons buttons, QMessageBox::Icon icon)>;

// Shows a modal message box (or asks the installed handler) and returns the
// button that closed it.
QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const QString& caption,
                                           const QString& text,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::Icon icon);

// Installs `handler` and returns the previous one; an empty handler restores
// the real modal box.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// Installs a handler for its lifetime and puts the previous one back.
class ScopedMessageBoxHandler {
  public:
    explicit ScopedMessageBoxHandler(MessageBoxHandler handler)
        : m_previous(SetMessageBoxHandler(std::move(handler))) {}
    ~ScopedMessageBoxHandler() { SetMessageBoxHandler(std::move(m_previous)); }
    ScopedMessageBoxHandler(const ScopedMessageBoxHandler&) = delete;
    ScopedMessageBoxHandler& operator=(const ScopedMessageBoxHandler&) = delete;

  private:
    MessageBoxHandler m_previous;
};

}  // namespace kavrel
