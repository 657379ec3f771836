#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/sim/SimOptions.h"

namespace kavrel::sim {
namespace {

ParseOutcome Parse(std::vector<std::string> args, SimOptions& options, std::string& error) {
    args.insert(args.begin(), "kavrel-sim");
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    return ParseOptions(int(argv.size()), argv.data(), options, error);
}

TEST(SimOptionsTest, DefaultsMatchTheRunScriptAndTheViewersLogin) {
    SimOptions options;
    std::string error;
    ASSERT_EQ(Parse({}, options, error), ParseOutcome::Run);
    EXPECT_EQ(options.address, "127.0.0.1");
    EXPECT_EQ(options.port, 37777);
    EXPECT_EQ(options.user, "admin");
    EXPECT_EQ(options.password, "admin");
    EXPECT_EQ(options.version, 5);
    EXPECT_EQ(options.size, (PictureSize{352, 288}));
    EXPECT_EQ(options.keyType, 100);
    EXPECT_EQ(options.frameType, 0);
    EXPECT_EQ(options.formatType, 199);
    EXPECT_TRUE(options.faults.Empty());
}

TEST(SimOptionsTest, EveryOptionIsTaken) {
    SimOptions o;
    std::string error;
    ASSERT_EQ(Parse({"--address",
                     "0.0.0.0",
                     "--port",
                     "0",
                     "--user",
                     "u",
                     "--password",
                     "",
                     "--version",
                     "3",
                     "--channels",
                     "32",
                     "--size",
                     "1280x720",
                     "--fps",
                     "100",
                     "--bitrate",
                     "2000000",
                     "--gop",
                     "1",
                     "--key-type",
                     "104",
                     "--frame-type",
                     "112",
                     "--format-type",
                     "203",
                     "--fault",
                     "stall",
                     "--fault-frames",
                     "0",
                     "--fault-size",
                     "16x16",
                     "--garbage-bytes",
                     "1",
                     "--refuse-code",
                     "0",
                     "--max-connections",
                     "256",
                     "--file",
                     "clip.264"},
                    o, error),
              ParseOutcome::Run)
        << error;
    EXPECT_EQ(o.address, "0.0.0.0");
    EXPECT_EQ(o.port, 0);
    EXPECT_EQ(o.user, "u");
    EXPECT_EQ(o.password, "");
    EXPECT_EQ(o.version, 3);
    EXPECT_EQ(o.channels, 32);
    EXPECT_EQ(o.size, (PictureSize{1280, 720}));
    EXPECT_EQ(o.fps, 100);
    EXPECT_EQ(o.bitRate, 2000000);
    EXPECT_EQ(o.gop, 1);
    EXPECT_EQ(o.keyType, 104);
    EXPECT_EQ(o.frameType, 112);
    EXPECT_EQ(o.formatType, 203);
    EXPECT_EQ(o.faults.Names(), "stall");
    EXPECT_EQ(o.faultFrames, 0);
    EXPECT_EQ(o.EffectiveFaultSize(), (PictureSize{16, 16}));
    EXPECT_EQ(o.garbageBytes, 1);
    EXPECT_EQ(o.refuseCode, 0);
    EXPECT_EQ(o.maxConnections, 256);
    EXPECT_EQ(o.file, "clip.264");
}

TEST(SimOptionsTest, BadValuesAreErrorsThatNameTheOption) {
    const struct {
        std::vector<std::string> args;
        const char* named;
    } cases[] = {
        {{"--port", "65536"}, "--port"},
        {{"--port", "-1"}, "--port"},
        {{"--port", "80x"}, "--port"},
        {{"--port", ""}, "--port"},
        {{"--channels", "0"}, "--channels"},
        {{"--channels", "33"}, "--channels"},
        {{"--size", "352"}, "--size"},
        {{"--size", "351x288"}, "--size"},
        {{"--size", "14x14"}, "--size"},
        {{"--size", "4098x720"}, "--size"},
        {{"--fps", "0"}, "--fps"},
        {{"--bitrate", "512k"}, "--bitrate"},
        {{"--gop", "1001"}, "--gop"},
        {{"--key-type", "101"}, "--key-type"},
        {{"--frame-type", "100"}, "--frame-type"},
        {{"--format-type", "202"}, "--format-type"},
        {{"--fault", "crash"}, "--fault"},
        {{"--user", std::string(33, 'u')}, "--user"},
        {{"--password", std::string(20, 'p')}, "--password"},
        {{"--version", "65536"}, "--version"},
        {{"--fps"}, "--fps"},
        {{"--speed", "1"}, "--speed"},
        {{"--file", ""}, "--file"},
        {{"--file", "a.264", "--fault", "larger-picture"}, "--file"},
    };
    for (const auto& c : cases) {
        SimOptions options;
        std::string error;
        EXPECT_EQ(Parse(c.args, options, error), ParseOutcome::Error) << c.args[0];
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
    }
}

TEST(SimOptionsTest, LaterValuesWinFaultsAddUpAndHelpWinsAnywhere) {
    SimOptions options;
    std::string error;
    ASSERT_EQ(Parse({"--port", "1", "--port", "2", "--fault", "garbage", "--fault", "resize",
                     "--fault", "garbage"},
                    options, error),
              ParseOutcome::Run);
    EXPECT_EQ(options.port, 2);
    EXPECT_EQ(options.faults.Names(), "garbage,resize");
    EXPECT_EQ(Parse({"--port", "1", "--help"}, options, error), ParseOutcome::Help);
    EXPECT_EQ(Parse({"-h", "--port", "x"}, options, error), ParseOutcome::Help);
}

TEST(SimOptionsTest, EveryFaultHasANameTheHelpExplains) {
    const std::string help = HelpText();
    for (int i = 0; i < kFaultCount; ++i) {
        Fault back;
        ASSERT_TRUE(FaultFromName(FaultName(Fault(i)), back));
        EXPECT_EQ(back, Fault(i));
        EXPECT_NE(help.find("  " + std::string(FaultName(Fault(i))) + " "), std::string::npos)
            << FaultName(Fault(i));
    }
}

TEST(SimOptionsTest, FaultSizeDefaultsToTwiceThePictureWithinTheLimit) {
    SimOptions options;
    options.size = {352, 288};
    EXPECT_EQ(options.EffectiveFaultSize(), (PictureSize{704, 576}));
    options.size = {4000, 1080};
    EXPECT_EQ(options.EffectiveFaultSize(), (PictureSize{4096, 2160}));
}

}  // namespace
}  // namespace kavrel::sim
