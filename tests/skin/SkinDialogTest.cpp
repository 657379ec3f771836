// CSkinDialog hands texts and values through to "config.txt" in its language.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "config/ConfigStore.h"
#include "skin/CSkinDialog.h"

namespace kavrel {
namespace {

class SkinDialogTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath("config.txt");
        QFile file(m_path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[lan0]\nleave_text=Leave?\n[lan1]\nleave_text=\xe9\x80\x80\xe5\x87\xba?\n");
        file.close();
        SetConfigFilePath(m_path.toStdU16String());
    }
    void TearDown() override { SetConfigFilePath({}); }

    QTemporaryDir m_dir;
    QString m_path;
};

TEST_F(SkinDialogTest, TextsComeFromTheSectionOfTheLanguageIndex) {
    CSkinDialog dialog;
    EXPECT_EQ(dialog.languageIndex(), 0);
    EXPECT_EQ(dialog.LoadText(u"leave_text"), "Leave?");
    EXPECT_EQ(dialog.LoadText(u"no_such_key"), "");
}

TEST_F(SkinDialogTest, ConfigValuesAreReadAndWrittenThroughTheStore) {
    CSkinDialog dialog;
    dialog.WriteConfigValue(u"server", u"server_port", u"8000");
    EXPECT_EQ(dialog.ReadConfigValue(u"server", u"server_port"), u"8000");
    EXPECT_EQ(ReadConfigValue(u"server", u"server_port"), u"8000");
    EXPECT_EQ(dialog.ReadConfigValue(u"lan0", u"leave_text"), u"Leave?");
}

}  // namespace
}  // namespace kavrel
