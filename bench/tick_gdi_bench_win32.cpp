// One tick at the busiest level on a 1920 x 1080 32-bit DIB section, for pen widths 1, 3 and
// 10: as the saver draws it, through PixelCanvas and drawTick (random numbers included) straight
// into the bitmap's bits, and as bare GDI pen calls fed the very same segments, precomputed.
// Prints the median of each and how many times faster the saver's way is.
#include <windows.h>

#include "platform/gdi_handles_win32.hpp"
#include "saver/win32/dib_section_win32.hpp"
#include "saver/raster/pixel_canvas.hpp"
#include "saver/win32/saver_input_win32.hpp"
#include "saver/tick.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using namespace zorblinth;
using namespace zorblinth::win32;

constexpr int surfaceWidth = 1920;
constexpr int surfaceHeight = 1080;
constexpr std::uint8_t busiestLevel = 20;
constexpr int repetitions = 15;
constexpr std::uint64_t seed = 20101;

// Pays for the tick-count read the saver makes on every draw, yet always reads the same, so
// that both sides draw identical segments.
std::uint64_t frozenTickClock() {
    return GetTickCount64() & 0;
}

struct Stroke {
    Point from, to;
    Colour colour;
    bool isBox;
};

class RecordingCanvas final : public Canvas {
public:
    int width() const override { return surfaceWidth; }
    int height() const override { return surfaceHeight; }
    void line(Point from, Point to, Colour colour) override {
        strokes.push_back({from, to, colour, false});
    }
    void box(Point corner, Point opposite, Colour colour) override {
        strokes.push_back({corner, opposite, colour, true});
    }
    std::vector<Stroke> strokes;
};

void bareBox(HDC dc, const Stroke& box) {
    const std::array<POINT, 5> outline{{{box.from.x, box.from.y},
                                        {box.to.x, box.from.y},
                                        {box.to.x, box.to.y},
                                        {box.from.x, box.to.y},
                                        {box.from.x, box.from.y}}};
    Polyline(dc, outline.data(), 5);
}

// The least GDI can be asked to do for these strokes.
void drawBare(HDC dc, const std::vector<Stroke>& strokes, int penWidth) {
    const HGDIOBJ original = SelectObject(dc, GetStockObject(DC_PEN));
    for (const Stroke& stroke : strokes) {
        HPEN pen = nullptr;
        if (penWidth == 1) {
            SetDCPenColor(dc, stroke.colour);
        } else {
            pen = CreatePen(PS_SOLID, penWidth, stroke.colour);
            SelectObject(dc, pen);
        }
        if (stroke.isBox) {
            bareBox(dc, stroke);
        } else {
            MoveToEx(dc, stroke.from.x, stroke.from.y, nullptr);
            LineTo(dc, stroke.to.x, stroke.to.y);
        }
        if (pen) {
            SelectObject(dc, GetStockObject(DC_PEN));
            DeleteObject(pen);
        }
    }
    SelectObject(dc, original);
    // GDI may batch: the strokes count once they are in the bits.
    GdiFlush();
}

// As the saver's tick does it, its input check included (nothing is ever waiting here).
void drawAsTheSaver(const PixelSurface& pixels, int penWidth) {
    RandomSource random(frozenTickClock, seed);
    PixelCanvas canvas(pixels, penWidth);
    const SaverSession session(Point{}, SaverSettings{});
    std::vector<MSG> heldInput;
    drawTick(canvas, random, busiestLevel, EndingInputWatch(session, heldInput));
}

template <typename Work> double milliseconds(Work work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main() {
    const MemoryDc dc(CreateCompatibleDC(nullptr));
    const DibSection bitmap = topDownDibSection(dc.get(), surfaceWidth, surfaceHeight);
    if (!dc || !bitmap) {
        std::fprintf(stderr, "no %dx%d surface\n", surfaceWidth, surfaceHeight);
        return 1;
    }
    const Selection selected(dc.get(), bitmap.bitmap.get());

    RecordingCanvas recorder;
    RandomSource recordingRandom(frozenTickClock, seed);
    drawTick(recorder, recordingRandom, busiestLevel);

    std::printf("one tick at level %d on %dx%d: %zu lines and a box; median of %d runs\n",
                busiestLevel, surfaceWidth, surfaceHeight, recorder.strokes.size() - 1,
                repetitions);
    std::printf("pen width  PixelCanvas+drawTick  bare GDI    GDI / PixelCanvas\n");
    for (const int penWidth : {1, 3, 10}) {
        std::vector<double> canvasTimes, bareTimes;
        for (int run = 0; run < repetitions; ++run) {
            canvasTimes.push_back(milliseconds([&] { drawAsTheSaver(bitmap.pixels, penWidth); }));
            bareTimes.push_back(
                milliseconds([&] { drawBare(dc.get(), recorder.strokes, penWidth); }));
        }
        const double canvasMedian = median(canvasTimes);
        const double bareMedian = median(bareTimes);
        std::printf("%9d  %17.2f ms  %7.2f ms  %16.2fx\n", penWidth, canvasMedian, bareMedian,
                    bareMedian / canvasMedian);
    }
    return 0;
}
