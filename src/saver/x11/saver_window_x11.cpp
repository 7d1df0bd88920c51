#include "saver/x11/saver_window_x11.hpp"

#include "saver/posix/termination_signals_posix.hpp"

#include "saver/x11/desktop_picture_x11.hpp"
#include "saver/x11/monitor_window_x11.hpp"
#include "saver/x11/monitors_x11.hpp"
#include "saver/x11/saver_input_x11.hpp"
#include "saver/x11/server_errors_x11.hpp"
#include "saver/x11/x11_handles_x11.hpp"

#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <vector>

#include <poll.h>

namespace zorblinth::x11 {

namespace {

using Clock = std::chrono::steady_clock;

// SIGTERM, SIGINT and SIGHUP end the saver at once, also during start-up and in the middle of a
// tick.
bool terminationRequested() {
    return posix::TerminationSignals::requested();
}

// What the saver holds of the window system while it runs: its windows, one a monitor (ours),
// or the one host's window.
struct SaverWindows {
    Display* display = nullptr;
    bool hosted = false; // input belongs to the host
    std::vector<std::unique_ptr<MonitorWindow>> monitors;
    // Standalone over every monitor: where RandR's events start (none: monitors are not
    // followed), and the cursor our windows show.
    std::optional<int> rrEventBase;
    Cursor hiddenCursor = None;
    bool layoutChanged = false;

    std::vector<Area> covered() const {
        std::vector<Area> areas;
        for (const auto& monitor : monitors)
            areas.push_back(monitor->area());
        return areas;
    }

    MonitorWindow* showing(Window window) const {
        const auto found = std::find_if(monitors.begin(), monitors.end(),
                                        [window](const auto& m) { return m->window() == window; });
        return found == monitors.end() ? nullptr : found->get();
    }
};

// Word that monitors came, went or changed.
bool isLayoutChange(const SaverWindows& saver, XEvent& event) {
    if (!saver.rrEventBase)
        return false;
    if (event.type == ConfigureNotify &&
        event.xconfigure.window == DefaultRootWindow(saver.display))
        return true;
    if (event.type == *saver.rrEventBase + RRScreenChangeNotify) {
        XRRUpdateConfiguration(&event); // Xlib's idea of the screen's size follows
        return true;
    }
    return event.type == *saver.rrEventBase + RRNotify;
}

// Whether a move is the server's own: a monitor taken away from under the pointer, which the
// server then puts on one that is left. Word of the change may come only after the move (xrandr
// holds the server while it changes several things), so the server is asked at once: whether
// the pointer could still be where it was, and whether the monitors are as covered.
bool movedByLayoutChange(SaverWindows& saver, const SaverSession& session, const XEvent& move) {
    if (move.type != MotionNotify || !saver.rrEventBase)
        return false;
    if (!saver.layoutChanged) {
        const auto start = session.startCursor();
        const LayoutChange change = layoutChange(saver.covered(), everyMonitor(saver.display));
        saver.layoutChanged = (start && !pointerMayRestAt(saver.display, *start)) ||
                              !change.gone.empty() || !change.added.empty();
    }
    return saver.layoutChanged;
}

void handle(SaverWindows& saver, SaverSession& session, XEvent& event) {
    for (const auto& monitor : saver.monitors)
        if (monitor->upload().take(event))
            return;
    if (isLayoutChange(saver, event)) {
        saver.layoutChanged = true; // one look once the burst of notifications is read
        return;
    }
    switch (event.type) {
    case Expose: // repaint from the picture: nothing drawn is ever lost
        if (MonitorWindow* const monitor = saver.showing(event.xexpose.window))
            monitor->upload().changed(
                {event.xexpose.x, event.xexpose.y, event.xexpose.width, event.xexpose.height});
        break;
    case KeyPress:
    case ButtonPress:
    case MotionNotify:
        if (const auto input = userInput(event); input && !saver.hosted) {
            if (session.endsSaver(*input) && movedByLayoutChange(saver, session, event))
                session.pointerMovedBySystem(input->position);
            else
                session.take(*input);
        }
        break;
    case ConfigureNotify: // a host's window follows its host's size
        if (MonitorWindow* const monitor = saver.showing(event.xconfigure.window);
            monitor && saver.hosted)
            monitor->resize(event.xconfigure.width, event.xconfigure.height);
        break;
    case DestroyNotify: // a window taken away: nothing left to draw on
        if (MonitorWindow* const monitor = saver.showing(event.xdestroywindow.window)) {
            monitor->windowDestroyed();
            if (!saver.hosted) // a host takes its window away as it ends us; others do not
                std::cerr << "zorblinth: another program destroyed the saver's window\n";
            session.end();
        }
        break;
    case UnmapNotify: // another program hid our window: a saver must not run on unseen
        if (MonitorWindow* const monitor = saver.showing(event.xunmap.window);
            monitor && !saver.hosted)
            XMapRaised(saver.display, monitor->window());
        break;
    default:
        break;
    }
}

// Monitors came or went: a new one is covered with a picture of its own, one gone is no longer
// drawn. A change of layout alone never ends the saver.
void followLayout(SaverWindows& saver, SaverSession& session) {
    saver.layoutChanged = false;
    const LayoutChange change = layoutChange(saver.covered(), everyMonitor(saver.display));
    for (auto gone = change.gone.rbegin(); gone != change.gone.rend(); ++gone)
        saver.monitors.erase(saver.monitors.begin() + static_cast<std::ptrdiff_t>(*gone));
    for (const Area& area : change.added)
        if (auto picture = frozenPicture(saver.display, area))
            saver.monitors.push_back(std::make_unique<MonitorWindow>(
                saver.display, area, saver.hiddenCursor, std::move(picture),
                session.drawingForAnotherMonitor()));
}

// Every monitor's tick, in turn, each over every core. A long one stops for the user's return
// (standalone) or a termination signal; one that outlasts its period (a huge screen) keeps the
// pictures going out meanwhile.
void tickEveryMonitor(SaverWindows& saver, const SaverSession& session) {
    const auto tickStarted = Clock::now();
    const InputWaiting tickMustStop = [&saver, &session, tickStarted] {
        if (Clock::now() - tickStarted >= tickPeriod)
            for (const auto& monitor : saver.monitors)
                monitor->keepSending();
        return terminationRequested() ||
               (!saver.hosted && endingInputWaits(saver.display, session));
    };
    for (const auto& monitor : saver.monitors)
        if (!monitor->tick(tickMustStop))
            return;
}

// Draws the session's ticks on their schedule and hands events over between them, until the
// saver ends; a picture goes to the server whenever it has taken the one before.
void runEventLoop(SaverWindows& saver, SaverSession& session) {
    TickSchedule schedule(Clock::now());
    for (;;) {
        while (!session.ended() && XPending(saver.display) > 0) {
            XEvent event;
            XNextEvent(saver.display, &event);
            handle(saver, session, event);
        }
        if (terminationRequested())
            session.end();
        if (session.ended())
            return;
        if (saver.layoutChanged) {
            followLayout(saver, session);
            continue; // covering a monitor took a while: input first
        }
        if (schedule.due(Clock::now())) {
            tickEveryMonitor(saver, session);
            schedule.ticked(Clock::now());
            // A tick that ran late is followed at once by the next: this one's picture starts
            // going out first, as soon as the server has taken the one before. (Sending more of
            // it early in the next tick, as in the late part of a long one, showed fewer
            // pictures: measured at 4K, pen 1, 12 a second against 18.)
            if (schedule.due(Clock::now()))
                for (const auto& monitor : saver.monitors)
                    monitor->keepSending();
            continue; // input that came during the tick first: it may end the saver
        }
        for (const auto& monitor : saver.monitors)
            monitor->send();
        XFlush(saver.display);
        // Xlib may have read events while writing; poll() would not see those.
        if (XEventsQueued(saver.display, QueuedAlready) > 0)
            continue;
        const auto untilTick = schedule.untilNext(Clock::now());
        if (untilTick == Clock::duration::zero())
            continue;
        pollfd waits[2] = {{ConnectionNumber(saver.display), POLLIN, 0},
                           {posix::TerminationSignals::wakeFd(), POLLIN, 0}};
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(untilTick).count();
        poll(waits, waits[1].fd >= 0 ? 2 : 1, static_cast<int>(wait));
    }
}

// While the session locks: the windows stay, their pictures repainted where the server asks,
// for `time` at most; false on a termination signal.
bool keepCovering(SaverWindows& saver, SaverSession& session, Clock::duration time) {
    const auto until = Clock::now() + time;
    for (;;) {
        while (XPending(saver.display) > 0) {
            XEvent event;
            XNextEvent(saver.display, &event);
            handle(saver, session, event);
        }
        if (terminationRequested())
            return false;
        for (const auto& monitor : saver.monitors)
            monitor->send();
        XFlush(saver.display);
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        if (left <= std::chrono::milliseconds::zero())
            return true;
        if (XEventsQueued(saver.display, QueuedAlready) > 0)
            continue;
        pollfd waits[2] = {{ConnectionNumber(saver.display), POLLIN, 0},
                           {posix::TerminationSignals::wakeFd(), POLLIN, 0}};
        poll(waits, waits[1].fd >= 0 ? 2 : 1, static_cast<int>(left.count()));
    }
}

// Every monitor's picture, each taken before any of our windows exists so that none contains
// them, then a window over each.
bool coverMonitors(SaverWindows& saver, SaverSession& session, const std::vector<Area>& areas) {
    std::vector<std::unique_ptr<FrameImage>> pictures;
    for (const Area& area : areas) {
        pictures.push_back(frozenPicture(saver.display, area));
        if (!pictures.back())
            return false;
    }
    for (std::size_t i = 0; i < areas.size(); ++i)
        saver.monitors.push_back(std::make_unique<MonitorWindow>(
            saver.display, areas[i], saver.hiddenCursor, std::move(pictures[i]),
            session.drawingForAnotherMonitor()));
    return true;
}

DisplayConnection openDisplay() {
    DisplayConnection display(XOpenDisplay(nullptr));
    if (!display)
        std::cerr << "zorblinth: cannot open the X display \"" << XDisplayName(nullptr) << "\"\n";
    return display;
}

} // namespace

SaverOutcome runStandaloneSaver(const std::filesystem::path& settingsFile,
                                const SettingsOverrides& overrides, MonitorChoice monitors,
                                const ClaimRunningCopy& claimRunningCopy,
                                EndProcess endOnLostConnection, SessionLocker* locker) {
    prepareForEnding(endOnLostConnection);
    readKeysAsTheUserTypes();
    const DisplayConnection display = openDisplay();
    if (!display)
        return SaverOutcome::windowSystemFailed;
    Display* const x = display.get();
    const Window root = DefaultRootWindow(x);

    // First of all, before anything can move it: a later move is compared with this.
    const Point startCursor = pointerPosition(x);
    if (!claimRunningCopy())
        return SaverOutcome::anotherCopyRunning;
    // Read before anything is grabbed: whatever the file does, the user is not locked out.
    SaverSession session(startCursor, settingsToUse(readSettingsOrZeros(settingsFile), overrides));
    if (terminationRequested())
        return SaverOutcome::ended;

    const HiddenCursor hidden(x);
    SaverWindows saver;
    saver.display = x;
    saver.hiddenCursor = hidden.get();
    if (monitors == MonitorChoice::every) {
        // Asked before the monitors are read, so that no change after the reading is missed.
        int rrEventBase = 0;
        if (watchMonitorChanges(x, rrEventBase))
            saver.rrEventBase = rrEventBase;
    }
    const std::vector<Area> areas =
        monitors == MonitorChoice::every ? everyMonitor(x) : std::vector{primaryMonitor(x)};
    if (!coverMonitors(saver, session, areas))
        return SaverOutcome::windowSystemFailed;

    if (!grabInput(x, hidden.get())) {
        saver.monitors.clear();
        XSync(x, False);
        if (terminationRequested())
            return SaverOutcome::ended; // asked to end while waiting: nothing failed
        std::cerr << "zorblinth: the keyboard is held by another program; not starting the "
                     "saver\n";
        return SaverOutcome::windowSystemFailed;
    }
    const bool cursorHidden = hasXFixes(x);
    if (cursorHidden)
        XFixesHideCursor(x, root);

    // X reports no move when a window appears under the pointer: a pointer that moved since
    // the start is that first move.
    session.take({InputKind::mouseMove, pointerPosition(x)});
    runEventLoop(saver, session);

    // A locker grabs the keyboard as it shows (GNOME's shell on X11 gives up when it cannot).
    XUngrabPointer(x, CurrentTime);
    XUngrabKeyboard(x, CurrentTime);
    if (LockOnEnd::wanted(locker != nullptr, session))
        XSync(x, False);
    const LockResult lock = lockAfterInput(
        locker, session, [&](Clock::duration time) { return keepCovering(saver, session, time); });
    if (cursorHidden)
        XFixesShowCursor(x, root);
    saver.monitors.clear();
    XSync(x, False);
    return outcomeWith(lock);
}

SaverOutcome runHostedSaver(const std::filesystem::path& settingsFile,
                            const SettingsOverrides& overrides, std::optional<std::uint64_t> window,
                            EndProcess endOnLostConnection) {
    prepareForEnding(endOnLostConnection);
    const DisplayConnection display = openDisplay();
    if (!display)
        return SaverOutcome::windowSystemFailed;
    Display* const x = display.get();

    // Input belongs to the host: no start cursor, and nothing is ever taken.
    SaverSession session(std::nullopt, settingsToUse(readSettingsOrZeros(settingsFile), overrides));
    const Window target = window ? static_cast<Window>(*window) : DefaultRootWindow(x);
    XWindowAttributes attributes{};
    {
        ErrorTrap trap(x);
        if (!XGetWindowAttributes(x, target, &attributes) || trap.failed()) {
            std::cerr << "zorblinth: there is no window 0x" << std::hex << target
                      << " to draw in\n";
            return SaverOutcome::windowSystemFailed;
        }
    }
    auto frame =
        makeFrame(x, attributes.visual, attributes.depth, attributes.width, attributes.height);
    if (!frame)
        return SaverOutcome::windowSystemFailed;

    // The desktop the host left us, else black. The host's window covers the screen already,
    // so the screen itself is never read here.
    if (const auto screenshot = hostScreenshot(x, target)) {
        Window pixmapRoot = None;
        int pixmapX = 0;
        int pixmapY = 0;
        unsigned int width = 0;
        unsigned int height = 0;
        unsigned int border = 0;
        unsigned int depth = 0;
        ErrorTrap trap(x); // the host may have freed it already
        if (XGetGeometry(x, *screenshot, &pixmapRoot, &pixmapX, &pixmapY, &width, &height, &border,
                         &depth) &&
            !trap.failed() && static_cast<int>(depth) == attributes.depth) {
            const Placement place = centred(static_cast<int>(width), static_cast<int>(height),
                                            attributes.width, attributes.height);
            frame->capture(*screenshot, place.sourceX, place.sourceY, place.width, place.height,
                           place.x, place.y);
        }
    }

    // Only what any number of clients may watch: input belongs to the host.
    XSelectInput(x, target, ExposureMask | StructureNotifyMask);
    SaverWindows saver;
    saver.display = x;
    saver.hosted = true;
    {
        // The host may destroy its window at any moment; drawing into a window that has just
        // gone is no reason to crash before its DestroyNotify arrives.
        ErrorTrap trap(x);
        saver.monitors.push_back(std::make_unique<MonitorWindow>(
            x, target, std::move(frame), session.drawingForAnotherMonitor()));
        runEventLoop(saver, session);
        saver.monitors.clear();
    }
    return SaverOutcome::ended;
}

} // namespace zorblinth::x11
