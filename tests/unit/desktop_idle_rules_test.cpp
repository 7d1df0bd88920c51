#include "idle/desktop_idle_rules.hpp"

#include <gtest/gtest.h>

namespace zorblinth::idle {
namespace {

// What the watcher says for a desktop's settings and its own timeout: the line's telling part,
// or nothing when the saver comes first.
struct Expected {
    const char* name;
    long saverSeconds;
    const char* said; // nullptr: says nothing
};

void expectLine(std::string_view desktop, const std::vector<DesktopIdleStep>& steps,
                const Expected& expected) {
    const std::optional<std::string> line =
        desktopComesFirstLine(desktop, steps, expected.saverSeconds);
    if (!expected.said) {
        EXPECT_FALSE(line) << *line;
        return;
    }
    ASSERT_TRUE(line);
    EXPECT_NE(line->find(expected.said), std::string::npos) << *line;
    EXPECT_EQ(line->find('\n'), std::string::npos);
}

struct GnomeCase {
    GnomeIdleSettings settings;
    Expected expected;
};

class GnomeRules : public testing::TestWithParam<GnomeCase> {};

TEST_P(GnomeRules, SayWhenTheShellBlanksFirst) {
    expectLine("GNOME", gnomeIdleSteps(GetParam().settings), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    DelaysAgainstTimeouts, GnomeRules,
    testing::Values(GnomeCase{{300, true, 0},
                              {"defaults", 600,
                               "GNOME blanks and locks the screen after 5 min without input, "
                               "before the saver's 10 min (org.gnome.desktop.session "
                               "idle-delay): set Settings → Power → Screen Blank to more "
                               "than 10 min, or use a timeout under 5 min"}},
                    GnomeCase{{300, true, 0}, {"saver_first", 299, nullptr}},
                    GnomeCase{{300, true, 0}, {"at_the_same_time", 300, "after 5 min"}},
                    GnomeCase{{0, true, 0}, {"never_blanks", 600, nullptr}},
                    GnomeCase{{90, false, 0},
                              {"no_lock", 600, "GNOME blanks the screen after 90 s without"}},
                    GnomeCase{{120, true, 30},
                              {"lock_later", 600,
                               "after 2 min without input and locks it "
                               "30 s later, before"}}),
    [](const auto& info) { return std::string(info.param.expected.name); });

struct KdeCase {
    std::optional<const char*> screenLocker; // kscreenlockerrc; absent: KDE's defaults
    std::optional<const char*> powerProfiles;
    Expected expected;
};

class KdeRules : public testing::TestWithParam<KdeCase> {};

TEST_P(KdeRules, SayWhatKdeDoesFirst) {
    const KdeCase& kde = GetParam();
    const std::optional<KdeConfig> power =
        kde.powerProfiles ? std::optional(parseKdeConfig(*kde.powerProfiles)) : std::nullopt;
    expectLine("KDE", kdeIdleSteps(parseKdeConfig(kde.screenLocker.value_or("")), power),
               kde.expected);
}

constexpr const char* plasmaProfiles = "[AC]\nicon=battery-charging\n\n"
                                       "[AC][DPMSControl]\nidleTime=600\nlockBeforeTurnOff=0\n\n"
                                       "[AC][DimDisplay]\nidleTime=300000\n\n"
                                       "[Battery][DimDisplay]\nidleTime=60000\n";

INSTANTIATE_TEST_SUITE_P(
    Files, KdeRules,
    testing::Values(
        KdeCase{std::nullopt,
                std::nullopt,
                {"no_files_kde_default_lock", 600,
                 "KDE locks the screen after 5 min without input, before the saver's 10 min "
                 "(kscreenlockerrc Timeout): set System Settings → Workspace Behavior → Screen "
                 "Locking → Lock screen automatically to more than 10 min"}},
        KdeCase{"[Daemon]\nAutolock=false\n", std::nullopt, {"autolock_off", 600, nullptr}},
        KdeCase{"[Daemon]\nTimeout=15\n", std::nullopt, {"lock_after_the_saver", 600, nullptr}},
        KdeCase{"[Daemon]\nTimeout=15\n",
                plasmaProfiles,
                {"dim_first", 600, "KDE dims the screen after 5 min without input"}},
        KdeCase{"[Daemon]\nTimeout=15\n",
                "[AC][DPMSControl]\nidleTime=240\n[AC][DimDisplay]\nidleTime=300000\n",
                {"screen_off_first", 600, "turns the screen off after 4 min without input"}},
        KdeCase{"[Daemon]\nAutolock=false\n",
                "[Battery][DimDisplay]\nidleTime=60000\n",
                {"battery_profile_not_read", 600, nullptr}},
        KdeCase{"[Daemon]\nAutolock=false\n",
                "[AC][DimDisplay]\nidleTime=90500\n",
                {"dim_rounded_up", 600, "after 91 s"}},
        // Hand-edited: spaces, CRLF, comments, options on keys, the last of a repeated key.
        KdeCase{"# mine\r\n [Daemon] \r\nTimeout = 3 \r\nAutolock[$i]=On\r\nTimeout=4\r\n",
                std::nullopt,
                {"hand_edited", 600, "locks the screen after 4 min"}},
        // Values KDE cannot read give its defaults; so do entries of a broken header.
        KdeCase{"[Daemon]\nTimeout=soon\nAutolock=maybe\n",
                std::nullopt,
                {"unreadable_values_give_defaults", 600, "after 5 min"}},
        KdeCase{"[Daemon\nAutolock=false\n[Daemon]]x\nTimeout=1\n",
                std::nullopt,
                {"broken_headers_skipped", 600, "after 5 min"}},
        KdeCase{"Timeout=1\n[Daemon]\nTimeout[de]=1\n[Other]\nAutolock=false\n",
                std::nullopt,
                {"other_groups_and_localised_keys", 600, "after 5 min"}},
        KdeCase{"\x01\xff[\n==\n[]\n=3\n[Daemon][$i]\nTimeout=99999999999999999999\n",
                "\xfe\n[AC][DimDisplay]\nidleTime=-5\n",
                {"garbage", 600, "after 5 min"}},
        KdeCase{"[Daemon]\nTimeout=0\n",
                "[AC][DPMSControl]\nidleTime=0\n",
                {"zero_is_never", 600, nullptr}}),
    [](const auto& info) { return std::string(info.param.expected.name); });

TEST(DesktopOf, FindsGnomeAndKdeInTheList) {
    EXPECT_EQ(desktopOf("ubuntu:GNOME"), Desktop::gnome);
    EXPECT_EQ(desktopOf("GNOME-Classic:GNOME"), Desktop::gnome);
    EXPECT_EQ(desktopOf("KDE"), Desktop::kde);
    EXPECT_EQ(desktopOf("GNOME-Flashback"), Desktop::other);
    EXPECT_EQ(desktopOf("sway"), Desktop::other);
    EXPECT_EQ(desktopOf(""), Desktop::other);
}

} // namespace
} // namespace zorblinth::idle
