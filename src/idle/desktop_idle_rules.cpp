#include "idle/desktop_idle_rules.hpp"

#include <algorithm>
#include <charconv>
#include <limits>

namespace zorblinth::idle {

namespace {

constexpr std::string_view spaces = " \t\r\n";

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(spaces);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(spaces) - first + 1);
}

bool sameLetters(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

// "[AC][DimDisplay]" as "AC/DimDisplay"; empty for a header KDE would not read. A trailing
// "[$i]" (the group may not be changed) is no part of the name.
std::optional<std::string> groupName(std::string_view header) {
    std::string name;
    while (!header.empty()) {
        const auto close = header.find(']');
        if (header.front() != '[' || close == std::string_view::npos || close == 1)
            return std::nullopt;
        const std::string_view part = header.substr(1, close - 1);
        header.remove_prefix(close + 1);
        if (part.front() == '$' && header.empty())
            break;
        if (!name.empty())
            name += '/';
        name += part;
    }
    return name;
}

// A key without its options ("Timeout[$i]"); empty for a localised entry ("Name[de]").
std::optional<std::string_view> plainKey(std::string_view key) {
    const auto open = key.find('[');
    if (open == std::string_view::npos)
        return key;
    for (std::string_view rest = key.substr(open); !rest.empty();) {
        const auto close = rest.find(']');
        if (rest.front() != '[' || close == std::string_view::npos || rest[1] != '$')
            return std::nullopt;
        rest.remove_prefix(close + 1);
    }
    return trimmed(key.substr(0, open));
}

// The entry's text; null where the group or the key is not there.
const std::string* entryOf(const KdeConfig& config, std::string_view group, std::string_view key) {
    const auto found = config.find(group);
    if (found == config.end())
        return nullptr;
    const auto entry = found->second.find(key);
    return entry == found->second.end() ? nullptr : &entry->second;
}

// KConfig's readEntry: a value that is not of the type gives the default.
long readNumber(const KdeConfig& config, std::string_view group, std::string_view key,
                long fallback) {
    const std::string* const text = entryOf(config, group, key);
    if (!text)
        return fallback;
    long value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    return error == std::errc() && end == text->data() + text->size() ? value : fallback;
}

bool readBoolean(const KdeConfig& config, std::string_view group, std::string_view key,
                 bool fallback) {
    const std::string* const text = entryOf(config, group, key);
    if (!text)
        return fallback;
    for (std::string_view yes : {"true", "on", "yes", "1"})
        if (sameLetters(*text, yes))
            return true;
    for (std::string_view no : {"false", "off", "no", "0"})
        if (sameLetters(*text, no))
            return false;
    return fallback;
}

bool hasGroup(const KdeConfig& config, std::string_view group) {
    return config.find(group) != config.end();
}

// "10 min" where it is whole minutes, as the desktops' own settings count them; else "90 s".
std::string duration(long seconds) {
    if (seconds >= 60 && seconds % 60 == 0)
        return std::to_string(seconds / 60) + " min";
    return std::to_string(seconds) + " s";
}

} // namespace

Desktop desktopOf(std::string_view currentDesktops) {
    while (!currentDesktops.empty()) {
        const auto colon = currentDesktops.find(':');
        const std::string_view name = currentDesktops.substr(0, colon);
        if (name == "GNOME")
            return Desktop::gnome;
        if (name == "KDE")
            return Desktop::kde;
        currentDesktops = colon == std::string_view::npos ? std::string_view{}
                                                          : currentDesktops.substr(colon + 1);
    }
    return Desktop::other;
}

std::vector<DesktopIdleStep> gnomeIdleSteps(const GnomeIdleSettings& settings) {
    if (settings.idleDelaySeconds == 0)
        return {};
    // The shell locks only after its blank, so the blank is the step that counts.
    const bool locksAtOnce = settings.lockEnabled && settings.lockDelaySeconds == 0;
    DesktopIdleStep blank{locksAtOnce ? "blanks and locks the screen" : "blanks the screen",
                          static_cast<long>(settings.idleDelaySeconds),
                          "org.gnome.desktop.session idle-delay",
                          "Settings → Power → Screen Blank",
                          {}};
    if (settings.lockEnabled && !locksAtOnce)
        blank.then = "and locks it " + duration(settings.lockDelaySeconds) + " later";
    return {blank};
}

KdeConfig parseKdeConfig(std::string_view text) {
    KdeConfig config;
    std::optional<std::string> group = std::string(); // entries before any header: the default
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            group = groupName(line); // a bad header's entries are skipped with it
            continue;
        }
        const auto equals = line.find('=');
        if (!group || equals == std::string_view::npos)
            continue;
        const std::optional<std::string_view> key = plainKey(trimmed(line.substr(0, equals)));
        if (key && !key->empty())
            config[*group].insert_or_assign(std::string(*key),
                                            std::string(trimmed(line.substr(equals + 1))));
    }
    return config;
}

std::vector<DesktopIdleStep> kdeIdleSteps(const KdeConfig& screenLocker,
                                          const std::optional<KdeConfig>& powerProfiles) {
    std::vector<DesktopIdleStep> steps;
    // kscreenlocker's Timeout is in minutes; PowerDevil's dim time in milliseconds, its
    // screen-off time in seconds. A group PowerDevil leaves out is a step it does not take.
    const long lockMinutes = readNumber(screenLocker, "Daemon", "Timeout", 5);
    if (readBoolean(screenLocker, "Daemon", "Autolock", true) && lockMinutes > 0 &&
        lockMinutes < std::numeric_limits<long>::max() / 60)
        steps.push_back({"locks the screen",
                         lockMinutes * 60,
                         "kscreenlockerrc Timeout",
                         "System Settings → Workspace Behavior → Screen Locking → Lock screen "
                         "automatically",
                         {}});
    if (powerProfiles && hasGroup(*powerProfiles, "AC/DimDisplay")) {
        const long milliseconds = readNumber(*powerProfiles, "AC/DimDisplay", "idleTime", 0);
        if (milliseconds > 0)
            steps.push_back({"dims the screen",
                             (milliseconds + 999) / 1000,
                             "powermanagementprofilesrc [AC][DimDisplay] idleTime",
                             "System Settings → Power Management → Energy Saving → Dim screen",
                             {}});
    }
    if (powerProfiles && hasGroup(*powerProfiles, "AC/DPMSControl")) {
        const long seconds = readNumber(*powerProfiles, "AC/DPMSControl", "idleTime", 0);
        if (seconds > 0)
            steps.push_back({"turns the screen off",
                             seconds,
                             "powermanagementprofilesrc [AC][DPMSControl] idleTime",
                             "System Settings → Power Management → Energy Saving → Screen "
                             "Energy Saving",
                             {}});
    }
    return steps;
}

std::optional<std::string> desktopComesFirstLine(std::string_view desktopName,
                                                 const std::vector<DesktopIdleStep>& steps,
                                                 long saverSeconds) {
    const auto first = std::min_element(
        steps.begin(), steps.end(),
        [](const DesktopIdleStep& a, const DesktopIdleStep& b) { return a.seconds < b.seconds; });
    if (first == steps.end() || first->seconds > saverSeconds)
        return std::nullopt;
    return "zorblinth: " + std::string(desktopName) + " " + first->what + " after " +
           duration(first->seconds) + " without input" +
           (first->then.empty() ? "" : " " + first->then) + ", before the saver's " +
           duration(saverSeconds) + " (" + first->setting + "): set " + first->where +
           " to more than " + duration(saverSeconds) + ", or use a timeout under " +
           duration(first->seconds);
}

} // namespace zorblinth::idle
