// The settings dialog's controls, placement and contents after initialisation.

#include <QAbstractItemView>
#include <QWidget>

#include "settings/HistoryEntry.h"
#include "settings/ui/SetDialogIds.h"
#include "skin/BitmapIds.h"
#include "skin/CSkinButton.h"
#include "skin/CSkinStatic.h"
#include "tests/settings/SetDialogFixture.h"

namespace kavrel::test {
namespace {

using SetDialogControlsTest = SetDialogFixture;

QStringList Items(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

TEST_F(SetDialogControlsTest, EveryControlHasItsIdKindAndText) {
    CSetDialog& dialog = Open();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("set_title"));

    struct Label {
        int id;
        int bitmapId;
        Qt::Alignment alignment;
        const char* text;
    };
    const Label labels[] = {
        {202, bitmap::kTitleBackground, Qt::AlignLeft, "set_title"},
        {300, bitmap::kSettingsLabel, Qt::AlignRight, "set_history"},
        {301, bitmap::kSettingsLabel, Qt::AlignRight, "set_server"},
        {302, bitmap::kSettingsLabel, Qt::AlignRight, "set_port"},
        {303, bitmap::kSettingsLabel, Qt::AlignRight, "set_user"},
        {304, bitmap::kSettingsLabel, Qt::AlignRight, "set_password"},
        {305, bitmap::kSettingsLabel, Qt::AlignRight, "set_default"},
    };
    for (const Label& expected : labels) {
        SCOPED_TRACE(expected.id);
        auto* label = dialog.findChild<CSkinStatic*>(QString::number(expected.id));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->bitmapId(), expected.bitmapId);
        EXPECT_EQ(label->alignment() & Qt::AlignHorizontal_Mask, expected.alignment);
        EXPECT_EQ(label->text(), QString::fromLatin1(expected.text));
        EXPECT_TRUE(label->isVisible());
    }

    auto* close = dialog.findChild<CSkinButton*>(QStringLiteral("201"));
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->bitmapId(), bitmap::kTitleExit);
    EXPECT_EQ(close->textPlacement(), kTextBottomCentre);
    EXPECT_TRUE(close->text().isEmpty());

    struct List {
        int id;
        bool editable;
    };
    for (const List& expected :
         {List{237, false}, List{238, true}, List{239, true}, List{240, true}, List{242, false}}) {
        SCOPED_TRACE(expected.id);
        QComboBox* box = Combo(expected.id);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->isEditable(), expected.editable);
        EXPECT_TRUE(box->isVisible());
        if (expected.editable) {
            // No completion and no insertion: what is typed is what is taken.
            EXPECT_EQ(box->completer(), nullptr);
            EXPECT_EQ(box->insertPolicy(), QComboBox::NoInsert);
        }
    }
    ASSERT_NE(Password(), nullptr);
    EXPECT_EQ(Password()->echoMode(), QLineEdit::Password);

    struct Push {
        int id;
        const char* text;
    };
    for (const Push& expected :
         {Push{244, "set_ok"}, Push{245, "set_add"}, Push{246, "set_delete"}}) {
        SCOPED_TRACE(expected.id);
        QPushButton* button = Button(expected.id);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), QString::fromLatin1(expected.text));
        EXPECT_FALSE(button->autoDefault());
    }
}

TEST_F(SetDialogControlsTest, CoversTheOwnerWindow) {
    QWidget owner;
    owner.setGeometry(37, 21, 480, 640);
    CSetDialog dialog(KeyLabels(), &owner);
    dialog.Initialise();
    EXPECT_EQ(dialog.geometry(), owner.geometry());
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());

    // Without an owner: the program's screen, a 480 x 640 window (the test
    // screen is landscape).
    CSetDialog alone(KeyLabels());
    alone.Initialise();
    EXPECT_EQ(alone.size(), QSize(480, 640));
}

TEST_F(SetDialogControlsTest, OnADesktopWindowItIsAScaledDialogInItsMiddle) {
    QWidget owner;
    owner.setGeometry(100, 50, 1600, 900);
    CSetDialog dialog(KeyLabels(), &owner);
    dialog.Initialise();
    EXPECT_EQ(dialog.geometry(), QRect(562, 50, 675, 900));
    EXPECT_EQ(dialog.layout().rowHeight, 56);  // laid out for its own client area
    // Fields, lists and buttons read at the labels' size: 10 points x 900 / 640.
    for (const char* id : {"238", "241", "242", "244"}) {
        const QWidget* control = dialog.findChild<QWidget*>(id);
        ASSERT_NE(control, nullptr) << id;
        EXPECT_DOUBLE_EQ(control->font().pointSizeF(), 10 * 900 / 640.0) << id;
        EXPECT_TRUE(dialog.rect().contains(control->geometry())) << id;
    }
}

TEST_F(SetDialogControlsTest, ControlsSitWhereTheLayoutPutsThem) {
    CSetDialog& dialog = Open();
    const SetDialogLayout& layout = dialog.layout();
    EXPECT_EQ(layout.rowHeight, 40);  // laid out for its own 480 x 640 client area
    auto at = [&](int id) { return dialog.findChild<QWidget*>(QString::number(id))->geometry(); };
    EXPECT_EQ(at(202), QRect(0, 0, 441, 40));
    EXPECT_EQ(at(201), QRect(441, 0, 39, 40));
    for (int row = 0; row < setdlg::kRowCount; ++row) {
        SCOPED_TRACE(row);
        const int top = 50 + 60 * row;
        EXPECT_EQ(at(setdlg::kRowLabels[row]), QRect(19, top, 159, 40));
        // Lists too are one row high; their open list supplies the rest of
        // the handheld's opened height.
        EXPECT_EQ(at(setdlg::kRowInputs[row]), QRect(178, top, 283, 40));
    }
    EXPECT_EQ(at(244), QRect(19, 410, 211, 50));
    EXPECT_EQ(at(245), QRect(249, 410, 211, 50));
    EXPECT_EQ(at(246), QRect(19, 480, 211, 50));
}

TEST_F(SetDialogControlsTest, OpenListIsAboutFiveRowsWithItsField) {
    CSetDialog& dialog = Open();
    const int rowHeight = dialog.layout().rowHeight;
    QComboBox* channel = Combo(242);
    channel->showPopup();
    const QWidget* popup = channel->view()->window();
    ASSERT_TRUE(popup->isVisible());
    const int itemHeight = channel->view()->visualRect(channel->model()->index(0, 0)).height();
    ASSERT_GT(itemHeight, 0);
    // Field plus open list: five rows, give or take one list item and the
    // popup's frame.
    const int opened = rowHeight + popup->height();
    EXPECT_LE(opened, 5 * rowHeight + itemHeight) << "popup " << popup->height();
    EXPECT_GE(opened, 5 * rowHeight - 2 * itemHeight) << "popup " << popup->height();
    channel->hidePopup();
}

TEST_F(SetDialogControlsTest, ChannelListSelectsTheHandedInChannel) {
    QStringList numbers;
    for (int i = 1; i <= 32; ++i)
        numbers << QString::number(i);

    struct Case {
        int channel;
        int selected;
    };
    for (const Case& c :
         {Case{0, 0}, Case{5, 5}, Case{31, 31}, Case{32, -1}, Case{40, -1}, Case{-1, -1}}) {
        SCOPED_TRACE(c.channel);
        Open(ServerSettings{u"cam", u"80", u"", u"", c.channel});
        EXPECT_EQ(Items(Combo(242)), numbers);
        EXPECT_EQ(Combo(242)->currentIndex(), c.selected);
    }
}

TEST_F(SetDialogControlsTest, BoxesShowTheRecordOverTheirRecentLists) {
    Store(u"server", u"10.0.0.5@.@cam.example@.@");
    Store(u"port", u"9000@.@80x@.@");
    Store(u"userid", u"admin@.@");
    Store(u"history2", FormatHistoryEntry(u"10.0.0.5", u"9000", u"admin", u"pw", u"3"));
    Store(u"history5", u"10.0.0.7!.!80!.!");
    Open(ServerSettings{u"192.168.1.9", u" 8000", u"viewer", u"secret", 2});

    EXPECT_EQ(Items(Combo(238)), QStringList({"10.0.0.5", "cam.example"}));
    EXPECT_EQ(Items(Combo(239)), QStringList({"9000", "80x"}));
    EXPECT_EQ(Items(Combo(240)), QStringList({"admin"}));
    EXPECT_EQ(TextOf(238), QStringLiteral("192.168.1.9"));
    EXPECT_EQ(TextOf(239), QStringLiteral(" 8000"));
    EXPECT_EQ(TextOf(240), QStringLiteral("viewer"));
    EXPECT_EQ(TextOf(241), QStringLiteral("secret"));
    EXPECT_EQ(TextOf(242), QStringLiteral("3"));

    EXPECT_EQ(Items(Combo(237)), QStringList({"10.0.0.5:9000", "10.0.0.7:80"}));
    EXPECT_EQ(Combo(237)->currentIndex(), -1);
    EXPECT_EQ(m_dialog->history().size(), 2u);
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(SetDialogControlsTest, EmptyStoreGivesEmptyListsAndCreatesTheStore) {
    Open();
    for (int id : {237, 238, 239, 240})
        EXPECT_EQ(Combo(id)->count(), 0) << id;
    for (int id : {238, 239, 240, 241})
        EXPECT_EQ(TextOf(id), QString()) << id;
    EXPECT_EQ(TextOf(242), QStringLiteral("1"));  // channel 0 of a new record
    EXPECT_TRUE(FileExists(m_folder.File("orvane/settings.ini")));
}

}  // namespace
}  // namespace kavrel::test
