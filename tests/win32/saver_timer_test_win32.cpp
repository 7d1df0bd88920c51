// The whole saver on each of its timers: it needs a display, so the end-to-end tests run it on
// theirs, one timer a process (a process runs the saver once). A thread of the test reads the
// saver window's tick counts while it runs, then closes it.
#include <windows.h>

#include "saver/win32/saver_window_win32.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using namespace zorblinth;
using namespace zorblinth::win32;
using namespace std::chrono_literals;

struct TickCounts {
    std::uintptr_t drawn = 0;
    std::uintptr_t cut = 0;
};

// Waits for the saver's window to be shown, lets it tick for a while, notes its counts and
// closes it, as the window system would.
std::thread closeAfterSomeTicks(TickCounts& counts) {
    return std::thread([&counts] {
        HWND saver = nullptr;
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (((saver = FindWindowW(L"ZorblinthSaver", nullptr)) == nullptr ||
                !IsWindowVisible(saver)) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        if (saver == nullptr)
            return;
        std::this_thread::sleep_for(800ms);
        counts.drawn = reinterpret_cast<std::uintptr_t>(GetPropW(saver, ticksDrawnProperty));
        counts.cut = reinterpret_cast<std::uintptr_t>(GetPropW(saver, ticksCutProperty));
        PostMessageW(saver, WM_CLOSE, 0, 0);
    });
}

void runOn(TickTimerSource source) {
    const auto folder = std::filesystem::temp_directory_path() / "zorblinth-saver-timer-test";
    std::filesystem::create_directories(folder);
    const auto settingsFile = folder / "Qelvanor.txt";
    std::ofstream(settingsFile, std::ios::binary).write("\x01\x01", 2);

    POINT cursor{};
    GetCursorPos(&cursor);
    TickCounts counts;
    std::thread closer = closeAfterSomeTicks(counts);
    const SaverOutcome outcome =
        runSaver(GetModuleHandleW(nullptr), Point{cursor.x, cursor.y}, settingsFile, source);
    closer.join();

    EXPECT_EQ(outcome, SaverOutcome::ended);
    EXPECT_GT(counts.drawn, 0u) << "no tick was drawn";
    EXPECT_EQ(counts.cut, 0u) << "a tick was cut short without input";
}

TEST(SaverOnEachTimer, HighResolution) {
    runOn(TickTimerSource::highResolution);
}

TEST(SaverOnEachTimer, WindowTimer) {
    runOn(TickTimerSource::windowTimer);
}

} // namespace
