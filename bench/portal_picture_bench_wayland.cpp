// The screenshot portal's way to the desktop picture, against the 600 ms that every picture
// source shares: reading (and deleting) the portal's PNG of a 1920 x 1080 and a 3840 x 2160
// desktop, and, where ZORBLINTH_BENCH_PORTAL=1 and the session bus has a portal (the tests'
// stand-in, tests/e2e_wayland/portal_stand_in.py, or a real one that allows this program), the
// whole round: Lookup, Screenshot, its Response, and the file read.
#include "saver/wayland/portal_picture_wayland.hpp"
#include "saver/wayland/screenshot_portal_wayland.hpp"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <png.h>

namespace {

using namespace zorblinth::wayland;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// A desktop-like picture: bands of colour with fine detail, so that it compresses as a desktop
// does, not as a flat colour.
std::vector<unsigned char> desktopLike(int width, int height) {
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned char* pixel = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            pixel[0] = static_cast<unsigned char>(x * 255 / width);
            pixel[1] = static_cast<unsigned char>((y / 40) % 2 ? 200 : 60);
            pixel[2] = static_cast<unsigned char>((x ^ y) & 0x3F);
        }
    return rgb;
}

void readPicture(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const std::vector<unsigned char> rgb = desktopLike(width, height);
    const fs::path written = fs::temp_directory_path() / "zorblinth-bench-desktop.png";
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    png_image_write_to_file(&image, written.c_str(), 0, rgb.data(), 0, nullptr);
    const fs::path path = fs::temp_directory_path() / "zorblinth-bench-portal.png";
    for (auto _ : state) {
        state.PauseTiming();
        fs::copy_file(written, path, fs::copy_options::overwrite_existing);
        state.ResumeTiming();
        const PortalPicture picture =
            readPortalPicture("file://" + path.string(), Clock::now() + std::chrono::seconds(10));
        if (!picture.image)
            state.SkipWithError(picture.failure.c_str());
        benchmark::DoNotOptimize(picture.image);
    }
    state.counters["png_bytes"] = static_cast<double>(fs::file_size(written));
    fs::remove(written);
}
BENCHMARK(readPicture)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

void portalRound(benchmark::State& state) {
    for (auto _ : state) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(600);
        const PortalScreenshot shot = takePermittedScreenshot(deadline);
        if (!shot.uri) {
            state.SkipWithError(shot.failure.c_str());
            break;
        }
        const PortalPicture picture = readPortalPicture(*shot.uri, deadline);
        if (!picture.image) {
            state.SkipWithError(picture.failure.c_str());
            break;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const char* portal = std::getenv("ZORBLINTH_BENCH_PORTAL");
    if (portal && std::string(portal) == "1")
        benchmark::RegisterBenchmark("portalRound", portalRound)->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
