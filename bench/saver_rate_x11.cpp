// A running saver as a user sees it on an X screen. Starts the command given after "--", waits
// for its full-screen window, samples the root window with XShmGetImage for a while and counts
// how often the picture changed between consecutive samples; then moves the pointer by one pixel
// and times how long the process takes to end. Prints one line, for example:
//
//   screen=1920x1080 window_ms=850 ran_s=11.0 grab_ms=3.1 seconds=10.00 samples=812
//   samples_per_s=81.2 pictures=43 pictures_per_s=4.3 exit_ms=1210 status=0
//
// grab_ms is one full-screen XShmGetImage on the idle screen, measured before the command
// starts: with samples_per_s it tells whether the sampling kept up with the pictures. With
// --before-move the move comes that long after the window appeared, sampling or not
// (--seconds 0 samples nothing, for screens too large to copy quickly). Samples
// are taken at most every 5 ms unless told otherwise (--interval): the sampler shares the
// machine with the saver and the X server, and sampling flat out starves them. Where the saver
// says how many ticks it drew whole (on its window, or through --ticks-command), ticks= and
// ticks_per_s= tell them apart from the pictures seen.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int grabsForTiming = 20;

struct Options {
    double sampleSeconds = 10.0;
    double warmUpSeconds = 1.0;
    double startTimeoutSeconds = 60.0;
    // A tick in progress is finished first: seconds at 4K with wide pens.
    double exitTimeoutSeconds = 60.0;
    // The saver ticks twenty times a second: a sample every 5 ms still sees every picture, and
    // leaves the CPU to the saver and the X server. Sampling flat out (0) took so much of it on
    // two cores that the saver drew far fewer pictures.
    double sampleIntervalMs = 5.0;
    // The move comes no sooner than this after the window appeared: how long the saver has run
    // changes how quickly it can end when the server falls behind.
    double beforeMoveSeconds = 0.0;
    // For a saver that keeps its tick count where this tool cannot read it (the Windows one
    // under Wine): a shell command that prints "drawn=N", run before and after sampling.
    std::string ticksCommand;
    std::vector<char*> command;
};

[[noreturn]] void usage(const char* message) {
    std::fprintf(stderr,
                 "saver_rate_x11: %s\n"
                 "usage: saver_rate_x11 [--seconds S] [--warm-up S] [--start-timeout S]\n"
                 "                      [--exit-timeout S] [--interval MS] [--before-move S]\n"
                 "                      [--ticks-command CMD] -- COMMAND [ARG...]\n"
                 "  --seconds S        sample the screen for S seconds (10; 0: not at all)\n"
                 "  --warm-up S        wait S seconds after the window is up before sampling (1)\n"
                 "  --start-timeout S  give up when no full-screen window is up after S (60)\n"
                 "  --exit-timeout S   give up when the process has not ended S after the "
                 "move (60)\n"
                 "  --interval MS      at least MS milliseconds between samples (5; 0: as fast\n"
                 "                     as possible)\n"
                 "  --before-move S    move the pointer no sooner than S seconds after the\n"
                 "                     window appeared (0: right after sampling)\n"
                 "  --ticks-command CMD  where the saver's window does not say how many ticks\n"
                 "                     it drew, a shell command that prints \"drawn=N\"; run\n"
                 "                     before and after sampling\n",
                 message);
    std::exit(2);
}

double positiveNumber(const char* option, const char* text, bool zeroAllowed = false) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || value < 0 || (value == 0 && !zeroAllowed))
        usage((std::string("bad value for ") + option + ": " + text).c_str());
    return value;
}

Options parseOptions(int argc, char** argv) {
    Options options;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc)
            usage(("missing value for " + option).c_str());
        const char* value = argv[++i];
        if (option == "--seconds")
            options.sampleSeconds = positiveNumber("--seconds", value, true);
        else if (option == "--warm-up")
            options.warmUpSeconds = positiveNumber("--warm-up", value, true);
        else if (option == "--start-timeout")
            options.startTimeoutSeconds = positiveNumber("--start-timeout", value);
        else if (option == "--exit-timeout")
            options.exitTimeoutSeconds = positiveNumber("--exit-timeout", value);
        else if (option == "--interval")
            options.sampleIntervalMs = positiveNumber("--interval", value, true);
        else if (option == "--before-move")
            options.beforeMoveSeconds = positiveNumber("--before-move", value, true);
        else if (option == "--ticks-command")
            options.ticksCommand = value;
        else
            usage(("unknown option " + option).c_str());
    }
    if (i + 1 >= argc)
        usage("no command after --");
    options.command.assign(argv + i + 1, argv + argc);
    options.command.push_back(nullptr);
    return options;
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

Clock::duration seconds(double value) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
}

// Windows vanish between listing and asking about them; Xlib's default handler would end us.
int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayConnection = std::unique_ptr<Display, DisplayCloser>;

struct XFreer {
    void operator()(void* data) const { XFree(data); }
};

// A full-screen ZPixmap image in a shared-memory segment that the X server writes into.
class SharedScreenImage {
public:
    explicit SharedScreenImage(Display* display) : display_(display) {
        const int screen = DefaultScreen(display);
        image_ =
            XShmCreateImage(display, DefaultVisual(display, screen),
                            static_cast<unsigned>(DefaultDepth(display, screen)), ZPixmap, nullptr,
                            &segment_, static_cast<unsigned>(DisplayWidth(display, screen)),
                            static_cast<unsigned>(DisplayHeight(display, screen)));
        if (image_ == nullptr)
            throw std::runtime_error("XShmCreateImage failed");
        segment_.shmid = shmget(IPC_PRIVATE, byteCount(), IPC_CREAT | 0600);
        if (segment_.shmid < 0)
            throw std::runtime_error(std::string("shmget failed: ") + std::strerror(errno));
        segment_.shmaddr = image_->data = static_cast<char*>(shmat(segment_.shmid, nullptr, 0));
        // Marked for removal now, so it goes when the last user detaches, even after a crash.
        shmctl(segment_.shmid, IPC_RMID, nullptr);
        if (segment_.shmaddr == reinterpret_cast<char*>(-1))
            throw std::runtime_error(std::string("shmat failed: ") + std::strerror(errno));
        segment_.readOnly = False;
        if (!XShmAttach(display, &segment_))
            throw std::runtime_error("XShmAttach failed");
        attached_ = true;
        XSync(display, False);
    }
    ~SharedScreenImage() {
        if (attached_) {
            XShmDetach(display_, &segment_);
            XSync(display_, False);
        }
        if (image_ != nullptr)
            XDestroyImage(image_); // frees the structure only: the pixels are the segment's
        if (segment_.shmaddr != nullptr && segment_.shmaddr != reinterpret_cast<char*>(-1))
            shmdt(segment_.shmaddr);
    }
    SharedScreenImage(const SharedScreenImage&) = delete;
    SharedScreenImage& operator=(const SharedScreenImage&) = delete;

    void grab(Window root) {
        if (!XShmGetImage(display_, root, image_, 0, 0, AllPlanes))
            throw std::runtime_error("XShmGetImage failed");
    }
    const unsigned char* bytes() const {
        return reinterpret_cast<const unsigned char*>(image_->data);
    }
    std::size_t byteCount() const {
        return static_cast<std::size_t>(image_->bytes_per_line) *
               static_cast<std::size_t>(image_->height);
    }

private:
    Display* display_;
    XShmSegmentInfo segment_{};
    XImage* image_ = nullptr;
    bool attached_ = false;
};

// Four independent multiply-rotate lanes over 64-bit words: a changed word always changes its
// lane (each step is a bijection), and the lanes keep the multiplier busy.
std::uint64_t pictureHash(const unsigned char* bytes, std::size_t count) {
    constexpr std::uint64_t multiplier = 0x9E3779B97F4A7C15ull;
    std::uint64_t lanes[4] = {1, 2, 3, 4};
    auto mix = [](std::uint64_t lane, std::uint64_t word) {
        const std::uint64_t product = (lane ^ word) * multiplier;
        return (product << 31) | (product >> 33);
    };
    std::size_t offset = 0;
    for (; offset + 32 <= count; offset += 32) {
        for (int lane = 0; lane < 4; ++lane) {
            std::uint64_t word;
            std::memcpy(&word, bytes + offset + 8 * lane, sizeof word);
            lanes[lane] = mix(lanes[lane], word);
        }
    }
    for (; offset < count; ++offset)
        lanes[0] = mix(lanes[0], bytes[offset]);
    std::uint64_t hash = 0;
    for (std::uint64_t lane : lanes)
        hash = mix(hash, lane);
    return hash;
}

struct ScreenArea {
    int width, height;
};

// Mapped children of the root window that cover the whole screen (with a window manager, the
// frames of such windows).
std::vector<Window> fullScreenWindows(Display* display, Window root, ScreenArea screen) {
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, root, &rootReturn, &parent, &children, &count))
        return {};
    const std::unique_ptr<Window, XFreer> owned(children);
    std::vector<Window> found;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, children[i], &attributes) &&
            attributes.map_state == IsViewable && attributes.x <= 0 && attributes.y <= 0 &&
            attributes.x + attributes.width >= screen.width &&
            attributes.y + attributes.height >= screen.height)
            found.push_back(children[i]);
    }
    return found;
}

// The saver under test, in a process group of its own so that a hung one can be ended whole.
class ChildProcess {
public:
    explicit ChildProcess(std::vector<char*> command) {
        // Closed by a successful exec; otherwise the child writes its errno into it.
        int execFailure[2];
        if (pipe2(execFailure, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        pid_ = fork();
        if (pid_ < 0)
            throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            close(execFailure[0]);
            setpgid(0, 0);
            execvp(command[0], command.data());
            const int error = errno;
            [[maybe_unused]] const auto written = write(execFailure[1], &error, sizeof error);
            _exit(127);
        }
        setpgid(pid_, pid_); // also here, so the group exists before we might signal it
        close(execFailure[1]);
        int error = 0;
        const auto got = read(execFailure[0], &error, sizeof error);
        close(execFailure[0]);
        if (got == sizeof error) {
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
            throw std::runtime_error(std::string("cannot run ") + command[0] + ": " +
                                     std::strerror(error));
        }
    }
    ~ChildProcess() {
        if (running()) {
            kill(-pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reaps the process if it has ended; true while it runs.
    bool running() {
        if (pid_ < 0 || status_)
            return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = status;
            return false;
        }
        return true;
    }
    // How it ended: the exit status, or "signal N".
    std::string endDescription() const {
        if (!status_)
            return "running";
        if (WIFEXITED(*status_))
            return std::to_string(WEXITSTATUS(*status_));
        return "signal" + std::to_string(WTERMSIG(*status_));
    }
    void killGroup() {
        if (running()) {
            kill(-pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
            status_ = status;
        }
    }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

double meanGrabMilliseconds(SharedScreenImage& image, Window root) {
    image.grab(root); // the first one maps the pages
    const auto start = Clock::now();
    for (int i = 0; i < grabsForTiming; ++i)
        image.grab(root);
    return millisecondsSince(start) / grabsForTiming;
}

struct SaverWindowFound {
    Window window;
    double milliseconds; // since the start
};

// Waits for a full-screen window that was not there before the start; nothing when the process
// ended or the time ran out.
std::optional<SaverWindowFound> waitForSaverWindow(Display* display, Window root, ScreenArea screen,
                                                   const std::vector<Window>& before,
                                                   ChildProcess& saver, Clock::time_point started,
                                                   double timeoutSeconds) {
    const auto deadline = started + seconds(timeoutSeconds);
    while (Clock::now() < deadline) {
        for (Window window : fullScreenWindows(display, root, screen))
            if (std::find(before.begin(), before.end(), window) == before.end())
                return SaverWindowFound{window, millisecondsSince(started)};
        if (!saver.running())
            return std::nullopt;
        std::this_thread::sleep_for(5ms);
    }
    return std::nullopt;
}

// The ticks the saver says it has drawn whole, on its window or (under a window manager) one
// of the frame's children; nothing for a saver that does not say (the Windows one under Wine).
std::optional<unsigned long> ticksDrawn(Display* display, Window window, int depth = 0) {
    const Atom property = XInternAtom(display, "_ZORBLINTH_TICKS_DRAWN", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &after, &data) == Success &&
        data != nullptr) {
        const std::unique_ptr<unsigned char, XFreer> owned(data);
        if (type == XA_CARDINAL && format == 32 && count == 1)
            return static_cast<unsigned long>(*reinterpret_cast<long*>(data)) & 0xFFFFFFFFu;
    }
    if (depth == 2)
        return std::nullopt;
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned childCount = 0;
    if (!XQueryTree(display, window, &rootReturn, &parent, &children, &childCount))
        return std::nullopt;
    const std::unique_ptr<Window, XFreer> ownedChildren(children);
    for (unsigned i = 0; i < childCount; ++i)
        if (const auto found = ticksDrawn(display, children[i], depth + 1))
            return found;
    return std::nullopt;
}

struct Sampling {
    long samples = 0;
    long pictures = 0; // samples that differ from the one before
    double seconds = 0;
    std::optional<unsigned long> ticks; // drawn whole meanwhile, where the saver says
    double tickSeconds = 0;             // between the two counts
};

// A count of whole ticks from the --ticks-command, and the moment it stood (halfway through the
// command: under Wine a start-up takes a few tenths of a second).
struct TickCount {
    unsigned long drawn;
    Clock::time_point at;
};

std::optional<TickCount> ticksFromCommand(const std::string& command) {
    const auto started = Clock::now();
    FILE* output = popen(command.c_str(), "r");
    if (output == nullptr)
        return std::nullopt;
    std::optional<unsigned long> drawn;
    char line[256];
    while (std::fgets(line, sizeof line, output) != nullptr) {
        char* end = nullptr;
        if (std::strncmp(line, "drawn=", 6) == 0) {
            const unsigned long value = std::strtoul(line + 6, &end, 10);
            if (end != line + 6)
                drawn = value;
        }
    }
    const int status = pclose(output);
    if (!drawn || status != 0)
        return std::nullopt;
    return TickCount{*drawn, started + (Clock::now() - started) / 2};
}

Sampling sampleScreen(SharedScreenImage& image, Display* display, Window root, Window saverWindow,
                      const Options& options, ChildProcess& saver) {
    Sampling result;
    const auto interval = std::chrono::duration<double, std::milli>(options.sampleIntervalMs);
    const auto start = Clock::now();
    const auto end = start + seconds(options.sampleSeconds);
    const std::optional<unsigned long> ticksBefore = ticksDrawn(display, saverWindow);
    std::optional<TickCount> countBefore;
    if (!ticksBefore && !options.ticksCommand.empty())
        countBefore = ticksFromCommand(options.ticksCommand);
    image.grab(root);
    std::uint64_t previous = pictureHash(image.bytes(), image.byteCount());
    while (Clock::now() < end && saver.running()) {
        const auto nextSample =
            Clock::now() + std::chrono::duration_cast<Clock::duration>(interval);
        image.grab(root);
        const std::uint64_t hash = pictureHash(image.bytes(), image.byteCount());
        ++result.samples;
        if (hash != previous)
            ++result.pictures;
        previous = hash;
        if (options.sampleIntervalMs > 0)
            std::this_thread::sleep_until(nextSample);
    }
    result.seconds = millisecondsSince(start) / 1000.0;
    if (const auto ticksAfter = ticksDrawn(display, saverWindow); ticksBefore && ticksAfter) {
        result.ticks = (*ticksAfter - *ticksBefore) & 0xFFFFFFFFu;
        result.tickSeconds = result.seconds;
    } else if (countBefore) {
        if (const auto countAfter = ticksFromCommand(options.ticksCommand);
            countAfter && countAfter->drawn >= countBefore->drawn) {
            result.ticks = countAfter->drawn - countBefore->drawn;
            result.tickSeconds =
                std::chrono::duration<double>(countAfter->at - countBefore->at).count();
        }
    }
    return result;
}

// Moves the pointer one pixel (away from the right edge): a real motion event, as a user's.
void nudgePointer(Display* display, Window root, ScreenArea screen) {
    Window rootReturn = 0, child = 0;
    int x = 0, y = 0, windowX = 0, windowY = 0;
    unsigned mask = 0;
    XQueryPointer(display, root, &rootReturn, &child, &x, &y, &windowX, &windowY, &mask);
    XWarpPointer(display, None, None, 0, 0, 0, 0, x + 1 < screen.width ? 1 : -1, 0);
    XSync(display, False);
}

std::optional<double> waitForEnd(ChildProcess& saver, Clock::time_point since,
                                 double timeoutSeconds) {
    const auto deadline = since + seconds(timeoutSeconds);
    while (saver.running()) {
        if (Clock::now() > deadline)
            return std::nullopt;
        std::this_thread::sleep_for(1ms);
    }
    return millisecondsSince(since);
}

int run(const Options& options) {
    const DisplayConnection display(XOpenDisplay(nullptr));
    if (!display)
        throw std::runtime_error("cannot open the X display (is DISPLAY set?)");
    XSetErrorHandler(ignoreXError);
    int major = 0, minor = 0;
    Bool sharedPixmaps = False;
    if (!XShmQueryVersion(display.get(), &major, &minor, &sharedPixmaps))
        throw std::runtime_error("the X server has no MIT-SHM extension");

    const Window root = DefaultRootWindow(display.get());
    const int screenNumber = DefaultScreen(display.get());
    const ScreenArea screen{DisplayWidth(display.get(), screenNumber),
                            DisplayHeight(display.get(), screenNumber)};
    // Not made when nothing is sampled: on a 16384x16384 screen it is another gigabyte.
    std::optional<SharedScreenImage> image;
    std::optional<double> grabMs;
    if (options.sampleSeconds > 0) {
        image.emplace(display.get());
        grabMs = meanGrabMilliseconds(*image, root);
    }
    const std::vector<Window> before = fullScreenWindows(display.get(), root, screen);

    const auto started = Clock::now();
    ChildProcess saver(options.command);
    const std::optional<SaverWindowFound> found = waitForSaverWindow(
        display.get(), root, screen, before, saver, started, options.startTimeoutSeconds);
    if (!found) {
        if (saver.running())
            std::fprintf(stderr, "saver_rate_x11: no full-screen window appeared in %g s\n",
                         options.startTimeoutSeconds);
        else
            std::fprintf(stderr,
                         "saver_rate_x11: the process ended (status %s) before a full-screen "
                         "window appeared\n",
                         saver.endDescription().c_str());
        return 1;
    }
    const auto windowUp = Clock::now();
    const auto warmUpEnd = windowUp + seconds(options.warmUpSeconds);
    while (Clock::now() < warmUpEnd && saver.running())
        std::this_thread::sleep_for(10ms);

    const Sampling sampling =
        image ? sampleScreen(*image, display.get(), root, found->window, options, saver)
              : Sampling{};
    const auto moveDue = windowUp + seconds(options.beforeMoveSeconds);
    while (Clock::now() < moveDue && saver.running())
        std::this_thread::sleep_for(10ms);
    if (!saver.running()) {
        std::fprintf(stderr, "saver_rate_x11: the process ended by itself (status %s)\n",
                     saver.endDescription().c_str());
        return 1;
    }

    const auto moved = Clock::now();
    nudgePointer(display.get(), root, screen);
    const std::optional<double> exitMs = waitForEnd(saver, moved, options.exitTimeoutSeconds);
    if (!exitMs)
        saver.killGroup();

    std::printf("screen=%dx%d window_ms=%.0f ran_s=%.1f", screen.width, screen.height,
                found->milliseconds, std::chrono::duration<double>(moved - windowUp).count());
    if (image)
        std::printf(" grab_ms=%.2f seconds=%.2f samples=%ld samples_per_s=%.1f pictures=%ld "
                    "pictures_per_s=%.2f",
                    *grabMs, sampling.seconds, sampling.samples,
                    sampling.samples / sampling.seconds, sampling.pictures,
                    sampling.pictures / sampling.seconds);
    if (sampling.ticks && sampling.tickSeconds > 0)
        std::printf(" ticks=%lu ticks_per_s=%.2f", *sampling.ticks,
                    static_cast<double>(*sampling.ticks) / sampling.tickSeconds);
    std::printf(" exit_ms=%s status=%s\n",
                exitMs ? std::to_string(static_cast<long>(*exitMs + 0.5)).c_str() : "timeout",
                exitMs ? saver.endDescription().c_str() : "killed");
    return exitMs ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    try {
        return run(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "saver_rate_x11: %s\n", error.what());
        return 1;
    }
}
