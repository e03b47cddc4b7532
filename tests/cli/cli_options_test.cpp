#include "cli/cli_options.h"

#include <gtest/gtest.h>

namespace vkt5::cli {
namespace {

ParsedCli parse(std::vector<std::string> args, bool devicePaths = true) {
    return parseCliOptions(args, devicePaths);
}

TEST(CliOptions, PortsFromRepeatsAndListsKeepTheirSpellingAndOpenUnderTheirPortName) {
    const ParsedCli parsed =
        parse({"--port", "com3,/dev/ttyUSB0", "--port=COM12", "-p", "\\\\.\\COM7"});
    ASSERT_EQ(parsed.action, CliAction::Run) << parsed.error;
    const auto& ports = parsed.options.ports;
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(ports[0].shown, "com3");
    EXPECT_EQ(ports[0].open, "COM3");
    EXPECT_EQ(ports[1].open, "/dev/ttyUSB0");
    EXPECT_EQ(ports[2].open, "\\\\.\\COM12");  // two digits: the device-namespace form
    EXPECT_EQ(ports[3].open, "COM7");
}

TEST(CliOptions, EveryFlagAndValue) {
    const ParsedCli parsed = parse({"--yes", "--loop", "--json", "--quiet", "--fast", "--timeout",
                                    "2.5", "--log=units.csv", "--trace", "t.txt"});
    ASSERT_EQ(parsed.action, CliAction::Run) << parsed.error;
    const CliOptions& o = parsed.options;
    EXPECT_TRUE(o.yes && o.loop && o.json && o.quiet && o.fast);
    EXPECT_FALSE(o.list || o.info);
    EXPECT_EQ(o.timeoutSeconds, 2.5);
    EXPECT_EQ(o.logPath, "units.csv");
    EXPECT_EQ(o.tracePath, "t.txt");
    EXPECT_TRUE(parse({}).options.ports.empty());
}

TEST(CliOptions, HelpAndVersionWinOverWhatFollows) {
    EXPECT_EQ(parse({"--help", "--bogus"}).action, CliAction::Help);
    EXPECT_EQ(parse({"-h"}).action, CliAction::Help);
    EXPECT_EQ(parse({"--version"}).action, CliAction::Version);
    EXPECT_EQ(parse({"-V"}).action, CliAction::Version);
}

TEST(CliOptions, UsageErrors) {
    struct Case {
        std::vector<std::string> args;
        bool devicePaths;
        std::string says;
    };
    const Case cases[] = {
        {{"--bogus"}, true, "unknown option --bogus"},
        {{"COM3"}, true, "unexpected argument"},
        {{"--port"}, true, "--port needs a value"},
        {{"--port", "COM3,,COM4"}, true, "empty port name"},
        {{"--port", "/dev/ttyUSB0"}, false, "not a COM port name"},
        {{"--port", "COM0"}, false, "not a COM port name"},
        {{"--port", "COM03"}, false, "not a COM port name"},
        {{"--timeout", "0"}, true, "--timeout"},
        {{"--timeout", "soon"}, true, "--timeout"},
        {{"--timeout=-1"}, true, "--timeout"},
        {{"--yes=1"}, true, "takes no value"},
        {{"--list", "--yes"}, true, "--list"},
        {{"--info", "--loop"}, true, "--info"},
    };
    for (const Case& c : cases) {
        const ParsedCli parsed = parse(c.args, c.devicePaths);
        EXPECT_EQ(parsed.action, CliAction::UsageError) << c.args[0];
        EXPECT_NE(parsed.error.find(c.says), std::string::npos) << parsed.error;
    }
}

TEST(CliOptions, ComPortNumbers) {
    EXPECT_EQ(comPortNumber("COM1"), 1);
    EXPECT_EQ(comPortNumber("com49"), 49);
    EXPECT_EQ(comPortNumber("\\\\.\\COM255"), 255);
    EXPECT_EQ(comPortNumber("COM256"), 0);
    EXPECT_EQ(comPortNumber("COM"), 0);
    EXPECT_EQ(comPortNumber("COM1x"), 0);
    EXPECT_EQ(comPortNumber("/dev/ttyS0"), 0);
}

TEST(CliOptions, HelpNamesEveryOption) {
    for (const bool windows : {false, true}) {
        const std::string text = usageText(windows);
        for (const char* option :
             {"--port", "--list", "--info", "--yes", "--loop", "--timeout", "--log", "--trace",
              "--json", "--quiet", "--version", "--fast", "--help", "64"}) {
            EXPECT_NE(text.find(option), std::string::npos) << option;
        }
        EXPECT_EQ(text.find("device path") != std::string::npos, !windows);
    }
}

}  // namespace
}  // namespace vkt5::cli
