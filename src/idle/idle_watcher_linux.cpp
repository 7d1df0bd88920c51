#include "idle/idle_watcher_linux.hpp"

#include "idle/desktop_settings_linux.hpp"
#include "idle/idle_source_linux.hpp"
#include "idle/idle_watch.hpp"
#include "idle/inhibitors_linux.hpp"
#include "idle/saver_process_linux.hpp"
#include "idle/session_lock_linux.hpp"
#include "saver/posix/termination_signals_posix.hpp"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <utility>

#include <poll.h>

namespace zorblinth::idle {

namespace {

constexpr int normalEnd = 0;
constexpr int sessionFailed = 3;
constexpr int saverWindowSystemFailed = 3;
constexpr int saverAlreadyRunning = 2;
constexpr int saverSessionNotLocked = 4;      // it said so itself
constexpr int endedBySigterm = 128 + SIGTERM; // asked before it could catch the signal
// How long a failed saver's session may take to tell the watcher it ended too.
constexpr int sessionEndMilliseconds = 200;

bool variableSet(const char* name) {
    const char* const value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// The first source the session offers, in the order of how closely each follows the input.
std::unique_ptr<IdleSource> openFirstSource(long timeoutMilliseconds) {
    bool underWayland = false;
    if (variableSet("WAYLAND_DISPLAY") || variableSet("WAYLAND_SOCKET"))
        if (auto source = openWaylandIdleSource(timeoutMilliseconds, underWayland))
            return source;
    if (auto source = openMutterIdleSource(timeoutMilliseconds))
        return source;
    // Under a Wayland compositor, XWayland's idle time sees only its own clients' input.
    if (!underWayland && variableSet("DISPLAY"))
        if (auto source = openX11IdleSource(timeoutMilliseconds))
            return source;
    return nullptr;
}

struct Watcher {
    IdleSource& source;
    const WatcherOptions& options;
    IdleWatch watch;
    std::optional<SaverProcess> saver;
    std::unique_ptr<Inhibitors> inhibitors;
    SessionLock sessionLock;

    // A video that plays, a locked session or the desktop's own blank keep the saver away.
    bool desktopHoldsSaverBack() {
        if (inhibitors && inhibitors->desktopInhibits())
            return true;
        return sessionLock.lockedOrBlanked(inhibitors ? inhibitors->bus() : nullptr,
                                           inhibitors && !inhibitors->ownsScreenSaverName());
    }

    void startSaver() {
        // The desktop is asked now, and the timeout is counted again from here if it says no.
        // What it told before is superseded by its answers; what it tells from here on comes
        // over the saver.
        takeShieldRaised();
        if (desktopHoldsSaverBack()) {
            watch.sessionActive();
            source.restartTimeout();
            return;
        }
        std::vector<std::string> arguments{"zorblinth"};
        arguments.insert(arguments.end(), options.saverArguments.begin(),
                         options.saverArguments.end());
        if (auto started = SaverProcess::start(arguments))
            saver.emplace(std::move(*started));
        watch.saverStarted();
        if (!saver)
            watch.saverEnded();
        source.setSaverRunning(saver.has_value());
    }

    // Whether the desktop's blank or lock came up since the last look (both looked at).
    bool takeShieldRaised() {
        const bool blanked = inhibitors && inhibitors->takeShieldRaised();
        const bool locked = sessionLock.takeLocked();
        return blanked || locked;
    }

    // A saver left running behind the desktop's shield would go unseen: it is ended, without
    // waiting here for its end.
    void followShield() {
        if (takeShieldRaised() && watch.shieldRaised() == IdleWatch::Action::endSaver && saver)
            saver->terminate();
    }

    // False when the session went with the saver.
    bool saverEnded() {
        const bool askedToEnd = saver->askedToEnd();
        const int status = saver->reap();
        saver.reset();
        watch.saverEnded();
        source.setSaverRunning(false);
        // A saver whose compositor or server went away fails as it goes: the session's end is
        // what to tell then, and the watcher's own connection has it by now.
        pollfd session{source.fd(), POLLIN, 0};
        if (status == saverWindowSystemFailed && poll(&session, 1, sessionEndMilliseconds) > 0 &&
            !follow(true))
            return false;
        if (status == saverWindowSystemFailed)
            std::cerr << "zorblinth: the saver could not cover the screen (status 3); still "
                         "watching for the next idle period\n";
        else if (status != normalEnd && status != saverAlreadyRunning &&
                 status != saverSessionNotLocked && !(askedToEnd && status == endedBySigterm))
            std::cerr << "zorblinth: the saver ended with status " << status
                      << "; still watching for the next idle period\n";
        return true;
    }

    // Everything the source has to tell, in order: false when the session is gone.
    bool follow(bool readable) {
        for (;;) {
            switch (source.update(std::exchange(readable, false))) {
            case IdleSource::Event::lost:
                return false;
            case IdleSource::Event::idle:
                if (watch.sessionIdle() == IdleWatch::Action::startSaver)
                    startSaver();
                break;
            case IdleSource::Event::active:
                watch.sessionActive();
                break;
            case IdleSource::Event::none:
                if (watch.restartTimeoutAfterInhibit())
                    source.restartTimeout();
                return true;
            }
        }
    }
};

// The soonest of the source's and the buses' wake-ups; -1 when none needs one.
int wakeAfter(const IdleSource& source, const Inhibitors* inhibitors, const SessionLock& lock) {
    int soonest = -1;
    for (const int wake :
         {source.wakeAfterMilliseconds(), inhibitors ? inhibitors->timeoutMilliseconds() : -1,
          lock.timeoutMilliseconds()})
        if (wake >= 0 && (soonest < 0 || wake < soonest))
            soonest = wake;
    return soonest;
}

} // namespace

int runIdleWatcher(const WatcherOptions& options) {
    const posix::TerminationSignals signals;
    const long timeout = options.timeoutSeconds * 1000;
    const std::unique_ptr<IdleSource> source = openFirstSource(timeout);
    if (!source) {
        std::cerr << "zorblinth: this session tells no idle time (no ext_idle_notifier_v1, "
                     "org_kde_kwin_idle, org.gnome.Mutter.IdleMonitor or X server idle time)\n";
        return sessionFailed;
    }
    if (!variableSet(desktopToldVariable))
        if (const std::optional<std::string> line = desktopComesFirst(options.timeoutSeconds))
            std::cerr << *line << '\n';
    Watcher watcher{*source, options, {}, {}, nullptr, SessionLock::open(options.verbose)};
    watcher.inhibitors = Inhibitors::open(watcher.watch);
    if (!watcher.follow(false)) {
        std::cerr << "zorblinth: " << source->name() << " went away\n";
        return sessionFailed;
    }
    for (;;) {
        Inhibitors* const inhibitors = watcher.inhibitors.get();
        const SessionLock& lock = watcher.sessionLock;
        std::array<pollfd, 5> fds{
            {{posix::TerminationSignals::wakeFd(), POLLIN, 0},
             {source->fd(), POLLIN, 0},
             {watcher.saver ? watcher.saver->fd() : -1, POLLIN, 0},
             {inhibitors ? inhibitors->fd() : -1, inhibitors ? inhibitors->events() : short{0}, 0},
             {lock.fd(), lock.events(), 0}}};
        const int ready = poll(fds.data(), fds.size(), wakeAfter(*source, inhibitors, lock));
        if (posix::TerminationSignals::requested())
            return normalEnd; // the saver, if any, ends with the watcher
        if (ready < 0 && errno != EINTR) {
            std::cerr << "zorblinth: cannot wait for the session\n";
            return sessionFailed;
        }
        // The session first: a saver that ended because its compositor went away is no
        // failure of its own to report.
        if (!watcher.follow(ready > 0 && fds[1].revents != 0)) {
            std::cerr << "zorblinth: " << source->name() << " went away\n";
            return sessionFailed;
        }
        if (inhibitors && !inhibitors->process()) {
            // The session bus went away: the inhibits it carried went with their callers.
            std::cerr << "zorblinth: lost the session bus; going on without its inhibitors\n";
            watcher.inhibitors.reset();
            watcher.watch.callersGone();
        }
        source->setInhibited(watcher.watch.inhibited());
        if (watcher.watch.restartTimeoutAfterInhibit())
            source->restartTimeout();
        watcher.followShield();
        if (ready > 0 && fds[2].revents != 0 && !watcher.saverEnded()) {
            std::cerr << "zorblinth: " << source->name() << " went away\n";
            return sessionFailed;
        }
    }
}

} // namespace zorblinth::idle
