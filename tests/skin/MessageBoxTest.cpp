// The message-box seam: a test handler answers instead of a modal box and is
// put back afterwards.

#include <gtest/gtest.h>

#include "skin/MessageBox.h"

namespace kavrel {
namespace {

TEST(MessageBoxTest, InstalledHandlerAnswersWithTheCallersArguments) {
    QString caption;
    QString text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    {
        ScopedMessageBoxHandler scoped([&](QWidget*, const QString& c, const QString& t,
                                           QMessageBox::StandardButtons b, QMessageBox::Icon i) {
            caption = c;
            text = t;
            buttons = b;
            icon = i;
            return QMessageBox::No;
        });
        EXPECT_EQ(ShowMessageBox(nullptr, "leave", "really?", QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Information),
                  QMessageBox::No);
    }
    EXPECT_EQ(caption, "leave");
    EXPECT_EQ(text, "really?");
    EXPECT_EQ(buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(icon, QMessageBox::Information);
}

TEST(MessageBoxTest, HandlerMayReplaceItselfWhileItRuns) {
    int calls = 0;
    ScopedMessageBoxHandler scoped([&](QWidget*, const QString&, const QString&,
                                       QMessageBox::StandardButtons, QMessageBox::Icon) {
        ++calls;
        SetMessageBoxHandler([](QWidget*, const QString&, const QString&,
                                QMessageBox::StandardButtons,
                                QMessageBox::Icon) { return QMessageBox::Yes; });
        return QMessageBox::No;
    });
    EXPECT_EQ(ShowMessageBox(nullptr, "", "", QMessageBox::Yes, QMessageBox::NoIcon),
              QMessageBox::No);
    EXPECT_EQ(ShowMessageBox(nullptr, "", "", QMessageBox::Yes, QMessageBox::NoIcon),
              QMessageBox::Yes);
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace kavrel
