#include "idle/desktop_settings_linux.hpp"
#include "platform/file_descriptor_linux.hpp"

#include "idle/desktop_idle_rules.hpp"
#include "settings/settings_location_linux.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <utility>

#include <fcntl.h>
#include <gio/gio.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zorblinth::idle {

namespace {

// --- GNOME, through GSettings: its schemas tell whether the settings exist at all --------------

struct SchemaUnref {
    void operator()(GSettingsSchema* schema) const { g_settings_schema_unref(schema); }
};
using Schema = std::unique_ptr<GSettingsSchema, SchemaUnref>;

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Settings = std::unique_ptr<GSettings, ObjectUnref>;

struct VariantUnref {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

// A schema and its settings; both null where the schema is not installed.
struct SchemaSettings {
    Schema schema;
    Settings settings;
};

SchemaSettings settingsOf(const char* schemaId) {
    GSettingsSchemaSource* const source = g_settings_schema_source_get_default();
    if (!source)
        return {};
    Schema schema(g_settings_schema_source_lookup(source, schemaId, TRUE));
    if (!schema)
        return {};
    Settings settings(g_settings_new_full(schema.get(), nullptr, nullptr));
    return {std::move(schema), std::move(settings)};
}

// A key's value where the schema has it with that type ('u', 'b'): a schema of another
// version may lack it.
Variant valueOf(const SchemaSettings& settings, const char* key, const GVariantType* type) {
    if (!settings.settings || !g_settings_schema_has_key(settings.schema.get(), key))
        return nullptr;
    Variant value(g_settings_get_value(settings.settings.get(), key));
    if (!value || !g_variant_is_of_type(value.get(), type))
        return nullptr;
    return value;
}

std::optional<GnomeIdleSettings> readGnomeSettings() {
    const SchemaSettings session = settingsOf("org.gnome.desktop.session");
    const SchemaSettings screenSaver = settingsOf("org.gnome.desktop.screensaver");
    const Variant idleDelay = valueOf(session, "idle-delay", G_VARIANT_TYPE_UINT32);
    const Variant lockEnabled = valueOf(screenSaver, "lock-enabled", G_VARIANT_TYPE_BOOLEAN);
    const Variant lockDelay = valueOf(screenSaver, "lock-delay", G_VARIANT_TYPE_UINT32);
    if (!idleDelay || !lockEnabled || !lockDelay)
        return std::nullopt;
    return GnomeIdleSettings{g_variant_get_uint32(idleDelay.get()),
                             g_variant_get_boolean(lockEnabled.get()) != FALSE,
                             g_variant_get_uint32(lockDelay.get())};
}

// GSettings starts threads of its own (D-Bus, dconf), and a dconf profile with a service
// database makes it wait on the bus: it is read in a child process within a deadline, so that
// the watcher stays one thread that never waits for good.
constexpr int gnomeReadMilliseconds = 2000;

std::optional<GnomeIdleSettings> readGnomeSettingsApart() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return std::nullopt;
    const posix::FileDescriptor readEnd(ends[0]);
    const pid_t child = fork();
    if (child == 0) {
        ::close(ends[0]);
        if (const std::optional<GnomeIdleSettings> settings = readGnomeSettings())
            if (::write(ends[1], &*settings, sizeof *settings) < 0)
                _exit(1);
        _exit(0);
    }
    ::close(ends[1]);
    if (child < 0)
        return std::nullopt;
    GnomeIdleSettings settings;
    std::size_t got = 0;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(gnomeReadMilliseconds);
    while (got < sizeof settings) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd answer{readEnd.get(), POLLIN, 0};
        const int ready = left.count() > 0 ? poll(&answer, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR)
            continue; // a termination signal ends the watcher on its own deadline
        if (ready <= 0)
            break;
        const ssize_t read =
            ::read(readEnd.get(), reinterpret_cast<char*>(&settings) + got, sizeof settings - got);
        if (read < 0 && errno == EINTR)
            continue;
        if (read <= 0)
            break;
        got += static_cast<std::size_t>(read);
    }
    kill(child, SIGKILL); // done or out of time: either way it has nothing more to say
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return got == sizeof settings ? std::optional(settings) : std::nullopt;
}

// --- KDE, from its configuration files
// ------------------------------------------------------------

// Larger than any configuration KDE writes: a file this big is not one to read.
constexpr std::size_t maxConfigBytes = 1 << 20;

enum class FileState { read, absent, unreadable };

// A regular file's text, opened without blocking (a FIFO at the path must not hold the
// watcher).
FileState readConfigFile(const std::filesystem::path& file, std::string& text) {
    const posix::FileDescriptor opened(
        ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    const int descriptor = opened.get();
    if (descriptor < 0)
        return errno == ENOENT ? FileState::absent : FileState::unreadable;
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<std::size_t>(status.st_size) > maxConfigBytes)
        return FileState::unreadable;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(descriptor, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || text.size() + static_cast<std::size_t>(got) > maxConfigBytes)
            return FileState::unreadable;
        if (got == 0)
            return FileState::read;
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

// KDE's files sit where our own settings folder does, one level up.
std::filesystem::path configFolder() {
    return posix::settingsFolder(std::getenv("XDG_CONFIG_HOME"), posix::homeFolder()).parent_path();
}

std::optional<std::vector<DesktopIdleStep>> readKdeSteps() {
    const std::filesystem::path folder = configFolder();
    std::string screenLocker;
    std::string powerProfiles;
    const FileState locker = readConfigFile(folder / "kscreenlockerrc", screenLocker);
    const FileState power = readConfigFile(folder / "powermanagementprofilesrc", powerProfiles);
    if (locker == FileState::unreadable || power == FileState::unreadable)
        return std::nullopt;
    return kdeIdleSteps(parseKdeConfig(screenLocker),
                        power == FileState::read ? std::optional(parseKdeConfig(powerProfiles))
                                                 : std::nullopt);
}

} // namespace

std::optional<std::string> desktopComesFirst(long saverSeconds) {
    const char* const current = std::getenv("XDG_CURRENT_DESKTOP");
    switch (desktopOf(current ? current : "")) {
    case Desktop::gnome:
        if (const auto settings = readGnomeSettingsApart())
            return desktopComesFirstLine("GNOME", gnomeIdleSteps(*settings), saverSeconds);
        return std::nullopt;
    case Desktop::kde:
        if (const auto steps = readKdeSteps())
            return desktopComesFirstLine("KDE", *steps, saverSeconds);
        return std::nullopt;
    case Desktop::other:
        break;
    }
    return std::nullopt;
}

} // namespace zorblinth::idle
