#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <QString>
#include <thread>

#include "platform/DebugSink.h"
#include "tests/support/DebugCapture.h"

namespace kavrel {
namespace {

TEST(DebugSinkTest, CaptureSeesExactLinesAndRestoresPreviousSink) {
    std::vector<std::string> outer;
    SetDebugSink([&](std::string_view l) { outer.emplace_back(l); });
    {
        test::DebugCapture capture;
        DebugOutput("Play\n");
        DebugPrintf("Unknow command:%d\n", 202);
        EXPECT_EQ(capture.Lines(), (std::vector<std::string>{"Play\n", "Unknow command:202\n"}));
    }
    DebugOutput("after\n");
    SetDebugSink({});
    EXPECT_EQ(outer, std::vector<std::string>{"after\n"});
}

TEST(DebugSinkTest, LongFormattedLinesAreNotCut) {
    test::DebugCapture capture;
    const std::string longText(1000, 'x');
    DebugPrintf("%s\n", longText.c_str());
    ASSERT_EQ(capture.Lines().size(), 1u);
    EXPECT_EQ(capture.Lines()[0], longText + "\n");
}

TEST(DebugSinkTest, LinesFromManyThreadsArriveWhole) {
    test::DebugCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i)
                DebugOutput("Decode succeed\n");
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(capture.Count("Decode succeed\n"), 800);
}

// What reached Qt's message handler: the default sink's only way out.
std::vector<std::string> g_qtMessages;
void KeepQtMessage(QtMsgType, const QMessageLogContext& context, const QString& message) {
    if (context.category != nullptr && std::string(context.category) == "kavrel")
        g_qtMessages.push_back(message.toStdString());
}

TEST(DebugSinkTest, DefaultSinkFollowsTheLoggingRulesAsTheyChange) {
    g_qtMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(KeepQtMessage);
    // Off by default: nothing is formatted or written.
    QLoggingCategory::setFilterRules(QStringLiteral("kavrel.debug=false"));
    DebugPrintf("CH=%d,%d--%d", 1, 1, 4000);
    DebugOutput("Decode succeed\n");
    // Enabled while the program runs: the very next lines come out, whole
    // and without their newline, as before.
    QLoggingCategory::setFilterRules(QStringLiteral("kavrel.debug=true"));
    DebugPrintf("CH=%d,%d--%d", 2, 0, 812);
    DebugOutput("Decode succeed\n");
    QLoggingCategory::setFilterRules(QStringLiteral("kavrel.debug=false"));
    DebugOutput("Drop frame\n");
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
    EXPECT_EQ(g_qtMessages, (std::vector<std::string>{"CH=2,0--812", "Decode succeed"}));
}

}  // namespace
}  // namespace kavrel
