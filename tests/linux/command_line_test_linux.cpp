#include "startup/command_line_linux.hpp"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

using namespace zorblinth;
using namespace zorblinth::posix;

namespace {
CommandLine parse(std::initializer_list<std::string_view> arguments,
                  const char* hostWindow = nullptr) {
    const std::vector<std::string_view> list(arguments);
    return parseCommandLine(list, hostWindow);
}
} // namespace

TEST(CommandLine, ModesAndTheirDefault) {
    EXPECT_EQ(parse({}).mode, LinuxMode::settings);
    EXPECT_EQ(parse({"--settings"}).mode, LinuxMode::settings);
    EXPECT_EQ(parse({"--saver"}).mode, LinuxMode::saver);
    EXPECT_EQ(parse({"-saver"}).mode, LinuxMode::saver);
    EXPECT_EQ(parse({"--help"}).mode, LinuxMode::help);
    EXPECT_EQ(parse({"--saver", "--saver"}).mode, LinuxMode::saver);
    // MATE keeps a hack's saved options only when "<command> <options> --help" succeeds.
    EXPECT_EQ(parse({"--root", "--line-width", "3", "--help"}, "0x77").mode, LinuxMode::help);
    EXPECT_THROW(parse({"--root", "--line-width", "x", "--help"}), UsageError);
}

TEST(CommandLine, HostedWindowsAsHostsNameThem) {
    // XScreenSaver and its kin set XSCREENSAVER_WINDOW and pass -root or --root.
    const CommandLine rooted = parse({"-root"}, "0x2c00007");
    EXPECT_EQ(rooted.mode, LinuxMode::hosted);
    EXPECT_EQ(rooted.window, 0x2c00007u);
    EXPECT_EQ(parse({}, "46137351").window, 46137351u) << "the host's window alone is enough";
    EXPECT_EQ(parse({}, "").mode, LinuxMode::settings);
    EXPECT_FALSE(parse({"--root"}).window.has_value()) << "no host: the root window";
    EXPECT_EQ(parse({"--window-id", "0x1A00005"}).window, 0x1A00005u);
    EXPECT_EQ(parse({"--window-id=123"}, "0x77").window, 123u) << "an explicit id wins";
    EXPECT_EQ(parse({"--saver"}, "0x77").mode, LinuxMode::saver) << "an explicit mode wins";
    EXPECT_EQ(parse({"--settings"}, "0x77").mode, LinuxMode::settings);
}

TEST(CommandLine, OverridesAreClampedIntoTheDialogsRanges) {
    const CommandLine line = parse({"--root", "--line-width", "7", "--line-amount=20"});
    EXPECT_EQ(settingsToUse({1, 1}, line.overrides), (SaverSettings{7, 20}));
    EXPECT_EQ(settingsToUse({3, 9}, parse({"--root"}).overrides), (SaverSettings{3, 9}));
    EXPECT_EQ(settingsToUse({0, 200}, parse({"--root"}).overrides), (SaverSettings{1, 20}));
    EXPECT_EQ(settingsToUse({3, 9},
                            parse({"--root", "-line-width", "0", "-line-amount", "99"}).overrides),
              (SaverSettings{1, 20}));
    EXPECT_EQ(settingsToUse({3, 9}, parse({"--saver", "--line-width=-5"}).overrides),
              (SaverSettings{1, 9}));
    EXPECT_EQ(settingsToUse({3, 9}, parse({"--line-amount", "99999999999999999999999"}).overrides),
              (SaverSettings{3, 20}));
}

TEST(CommandLine, WhatCannotBeObeyedIsAUsageError) {
    for (const auto& arguments : std::vector<std::vector<std::string_view>>{
             {"--bogus"},
             {"/s"},
             {"saver"},
             {"-"},
             {"--"},
             {"--window-id"},
             {"--window-id", "0x"},
             {"--window-id", "12abc"},
             {"--window-id", "-5"},
             {"--line-width", "three"},
             {"--line-width", ""},
             {"--line-amount"},
             {"--saver", "--root"},
             {"--settings", "--saver"},
             {"--saver=yes"},
         })
        EXPECT_THROW(parseCommandLine(arguments, nullptr), UsageError) << arguments.front();
    EXPECT_THROW(parse({"--root"}, "not-a-window"), UsageError);
}

TEST(CommandLine, WindowIdsInDecimalOrHex) {
    EXPECT_EQ(parseWindowId("0"), 0u);
    EXPECT_EQ(parseWindowId("0x0"), 0u);
    EXPECT_EQ(parseWindowId("0XfF"), 255u);
    EXPECT_EQ(parseWindowId("18446744073709551615"), 18446744073709551615u);
    EXPECT_FALSE(parseWindowId("18446744073709551616"));
    EXPECT_FALSE(parseWindowId(""));
    EXPECT_FALSE(parseWindowId("x12"));
    EXPECT_FALSE(parseWindowId(" 12"));
}

TEST(CommandLine, TheSaversWindowSystemIsChosenOnlyWhenAsked) {
    EXPECT_FALSE(parse({"--saver"}).windowSystem.has_value());
    EXPECT_EQ(parse({"--saver", "--wayland"}).windowSystem, WindowSystem::wayland);
    EXPECT_EQ(parse({"-x11", "--saver"}).windowSystem, WindowSystem::x11);
    EXPECT_EQ(parse({"--x11", "--x11", "--saver"}).windowSystem, WindowSystem::x11);
    EXPECT_EQ(parse({"--root", "--x11"}).mode, LinuxMode::hosted);
    EXPECT_THROW(parse({"--saver", "--x11", "--wayland"}), UsageError);
    EXPECT_THROW(parse({"--wayland=1", "--saver"}), UsageError);
    EXPECT_THROW(parse({"--wayland"}, "0x77"), UsageError) << "a host's window is X11's";
    EXPECT_THROW(parse({"--window-id", "5", "--wayland"}), UsageError);
}

TEST(CommandLine, EveryMonitorUnlessOneIsAsked) {
    EXPECT_EQ(parse({"--saver"}).monitors, MonitorChoice::every);
    EXPECT_EQ(parse({"--saver", "--one-monitor"}).monitors, MonitorChoice::primaryOnly);
    EXPECT_EQ(parse({"-one-monitor", "--saver", "--x11"}).monitors, MonitorChoice::primaryOnly);
    EXPECT_THROW(parse({"--saver", "--one-monitor=2"}), UsageError);
    // A host's window is one monitor's already: harmless there.
    EXPECT_EQ(parse({"--root", "--one-monitor"}).mode, LinuxMode::hosted);
}

TEST(CommandLine, VerboseOnlyWhenAsked) {
    EXPECT_FALSE(parse({"--saver"}).verbose);
    EXPECT_TRUE(parse({"--saver", "--wayland", "-verbose"}).verbose);
    EXPECT_THROW(parse({"--saver", "--verbose=yes"}), UsageError);
}

// The watcher's timeout is whole seconds, at least one; the saver it starts gets the options
// given for it, and nothing of the watcher's own.
TEST(CommandLine, TheIdleWatcherAndWhatItPassesOnToTheSaver) {
    const CommandLine watcher =
        parse({"--idle", "600", "--one-monitor", "--line-width=3", "--line-amount", "12"});
    EXPECT_EQ(watcher.mode, LinuxMode::idle);
    EXPECT_EQ(watcher.idleSeconds, 600);
    EXPECT_EQ(saverArgumentsOf(watcher),
              (std::vector<std::string>{"--saver", "--one-monitor", "--line-width=3",
                                        "--line-amount=12"}));
    EXPECT_EQ(saverArgumentsOf(parse({"--idle=5"})), std::vector<std::string>{"--saver"});
    EXPECT_EQ(parse({"--autostart", "off"}).idleSeconds, std::nullopt);
    EXPECT_EQ(parse({"--autostart=90"}).idleSeconds, 90);
    for (const char* bad : {"0", "abc", "-1", "1.5", "", "2147484"})
        EXPECT_THROW(parse({"--idle", bad}), UsageError) << bad;
    EXPECT_THROW(parse({"--autostart", "on"}), UsageError);
    EXPECT_THROW(parse({"--idle", "5", "--saver"}), UsageError);
}

// --lock goes with the saver and with what starts it, and on to the saver; a host's window
// leaves locking to the host.
TEST(CommandLine, LockGoesWithTheStandaloneSaverOnly) {
    EXPECT_FALSE(parse({"--saver"}).lock);
    EXPECT_TRUE(parse({"--saver", "-lock"}).lock);
    EXPECT_EQ(saverArgumentsOf(parse({"--idle", "60", "--lock", "--one-monitor"})),
              (std::vector<std::string>{"--saver", "--one-monitor", "--lock"}));
    EXPECT_TRUE(parse({"--autostart=60", "--lock"}).lock);
    for (const auto& arguments :
         std::vector<std::vector<std::string_view>>{{"--root", "--lock"},
                                                    {"--window-id", "7", "--lock"},
                                                    {"--lock"},
                                                    {"--saver", "--lock=yes"}})
        EXPECT_THROW(parseCommandLine(arguments, nullptr), UsageError) << arguments.front();
    EXPECT_THROW(parse({"--lock"}, "0x77"), UsageError) << "in the host's window";
}
