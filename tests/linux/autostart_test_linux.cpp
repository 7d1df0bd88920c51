#include "idle/autostart_linux.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zorblinth::idle;

// The dialog reads back what --autostart and the dialog write, whatever the program's path and
// the arguments hold.
TEST(AutostartEntry, TheCommandReadsBackAsWritten) {
    const std::vector<std::string> arguments{
        "--idle", "600", "--line-width=3", "with space", "quote\"dollar$back\\slash`tick", "100%"};
    const auto command =
        autostartCommandOf(autostartEntryText("/home/a b/bin/zorblinth", arguments));
    ASSERT_TRUE(command.has_value());
    std::vector<std::string> expected{"/home/a b/bin/zorblinth"};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(*command, expected);
}

TEST(AutostartEntry, HandEditedEntries) {
    EXPECT_EQ(autostartCommandOf("[Desktop Entry]\nExec = zorblinth  --idle 60 %U\n"),
              (std::vector<std::string>{"zorblinth", "--idle", "60"}));
    EXPECT_EQ(autostartCommandOf("[Desktop Entry]\nExec=zorblinth --idle 60\nHidden=true\n"),
              std::nullopt);
    EXPECT_EQ(autostartCommandOf("[Desktop Entry]\nExec=zorblinth --idle 60\n"
                                 "X-GNOME-Autostart-enabled=false\n"),
              std::nullopt);
    EXPECT_EQ(autostartCommandOf("[Desktop Action x]\nExec=zorblinth --idle 60\n"), std::nullopt);
    EXPECT_EQ(autostartCommandOf("[Desktop Entry]\nName=no command\n"), std::nullopt);
    EXPECT_EQ(readAutostartCommand("/nonexistent/zorblinth-idle.desktop"), std::nullopt);
    EXPECT_EQ(readAutostartCommand("/dev/zero"), std::nullopt) << "not a regular file";
}
