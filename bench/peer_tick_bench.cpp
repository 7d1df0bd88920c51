// The same busiest ticks drawn by the saver and by what a developer would otherwise reach for on
// Linux: QPainter on a QImage, cairo on an image surface and the X server's own drawing on a
// pixmap (PolySegment, PolyRectangle, then a round trip). 1920 x 1080 and 3840 x 2160, pens 1, 3
// and 10, every picture 32-bit and kept from tick to tick, never cleared. Each iteration draws
// the next tick of the same seed, so every contender draws the very same strokes; the peers'
// strokes are recorded from the core's tick with the clock stopped, which leaves out of their
// time the random draws the saver's own time includes.
//
//   BM_SaverTick            the saver's tick on every core (real time)
//   BM_SaverTickOneThread   the same pixels on one thread: the strokes made in order, then the
//                           bands drawn on the calling thread alone
//   BM_QPainter, BM_Cairo, BM_XServer
//                           the peers, each on one thread (the X server's is its own process);
//                           BM_XServerThinLines is the server's line width 0 at pen 1
//
// With --pixel-difference it times nothing and prints, for each peer and pen, the share of
// pixels that differ from the saver's after the same first tick on the same grey picture.
// The X server is $DISPLAY's when set, else a private Xvfb; without either its rows are skipped.
#include "peer_picture.hpp"
#include "saver_tick_case.hpp"
#include "tick_recording.hpp"
#include "x_server_x11.hpp"

#include "saver/raster/tick_raster.hpp"
#include "saver/tick.hpp"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace zorblinth;
using namespace zorblinth::bench;

constexpr std::pair<int, int> screens[] = {{1920, 1080}, {3840, 2160}};
constexpr int pens[] = {1, 3, 10};

// What every run shares: the X server, asked for when first needed.
class Peers {
public:
    XServer* xServer(std::string& whyNot) {
        if (!asked_) {
            asked_ = true;
            server_ = XServer::open(whyNot_);
            if (server_)
                std::fprintf(stderr, "X server: %s\n", server_->description().c_str());
            else
                std::fprintf(stderr, "The X server's rows are skipped: %s\n", whyNot_.c_str());
        }
        whyNot = whyNot_;
        return server_.get();
    }

private:
    bool asked_ = false;
    std::unique_ptr<XServer> server_;
    std::string whyNot_;
};

using PictureMaker = std::function<std::unique_ptr<PeerPicture>(const PeerPictureSize&)>;

PeerPictureSize sizeOf(const benchmark::State& state) {
    return {static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
            static_cast<int>(state.range(2)), startingPixel};
}

// One busiest tick an iteration on the peer's picture, the same ticks as BM_SaverTick's.
void timePeer(benchmark::State& state, const PictureMaker& make) {
    const PeerPictureSize size = sizeOf(state);
    const std::unique_ptr<PeerPicture> picture = make(size);
    TickRecorder recorder(size.width, size.height);
    RandomSource random(frozenClock, seed);
    for (auto _ : state) {
        state.PauseTiming();
        const RecordedTick& tick = recorder.record(random, busiestLevel);
        state.ResumeTiming();
        picture->draw(tick);
    }
}

void BM_SaverTickOneThread(benchmark::State& state) {
    Screen screen(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const auto penWidth = static_cast<int>(state.range(2));
    RandomSource random(frozenClock, seed);
    StrokeList made(screen.width, screen.height, xrgbPixels);
    TickWorkspace workspace;
    BandSplit split = bandSplitFor(screen.width, screen.height, penWidth);
    split.threads = 1;
    const StrokeMaker madeAlready = [](std::vector<TickStroke>&, std::size_t, std::size_t) {};
    for (auto _ : state) {
        made.strokes.clear();
        drawTick(made, random, busiestLevel);
        workspace.strokes.swap(made.strokes);
        drawInBands(screen.surface(), penWidth, workspace, madeAlready, split);
        workspace.strokes.swap(made.strokes);
        benchmark::ClobberMemory();
    }
}

void registerAll(Peers& peers) {
    const auto xServerRun = [&peers](bool thinLines) {
        return [&peers, thinLines](benchmark::State& state) {
            std::string whyNot;
            XServer* server = peers.xServer(whyNot);
            if (server == nullptr) {
                state.SkipWithError(whyNot.c_str());
                return;
            }
            timePeer(state, [&](const PeerPictureSize& size) {
                return xServerPicture(*server, size, thinLines);
            });
        };
    };
    // Contenders side by side for each picture and pen, so that a change in the machine's load
    // falls on all of them alike.
    for (const auto& [width, height] : screens)
        for (const int pen : pens) {
            std::vector<std::pair<std::string, std::function<void(benchmark::State&)>>> runs = {
                {"BM_SaverTick", BM_SaverTick},
                {"BM_SaverTickOneThread", BM_SaverTickOneThread},
                {"BM_QPainter", [](benchmark::State& state) { timePeer(state, qpainterPicture); }},
                {"BM_Cairo", [](benchmark::State& state) { timePeer(state, cairoPicture); }},
                {"BM_XServer", xServerRun(false)},
            };
            if (pen == 1)
                runs.emplace_back("BM_XServerThinLines", xServerRun(true));
            for (auto& [name, run] : runs)
                benchmark::RegisterBenchmark(name.c_str(), run)
                    ->Args({width, height, pen})
                    ->ArgNames({"w", "h", "pen"})
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
        }
}

double shareDiffering(const std::vector<std::uint32_t>& ours,
                      const std::vector<std::uint32_t>& theirs) {
    if (theirs.size() != ours.size() || ours.empty())
        return -1;
    std::size_t differing = 0;
    for (std::size_t i = 0; i < ours.size(); ++i)
        differing += (ours[i] & 0xFFFFFFu) != theirs[i] ? 1 : 0;
    return static_cast<double>(differing) / static_cast<double>(ours.size());
}

// The share of pixels each peer sets otherwise than the saver, after the first tick on the same
// grey picture.
int printPixelDifferences(Peers& peers) {
    std::printf("%-11s %4s %-14s %s\n", "picture", "pen", "peer", "pixels differing from ours");
    for (const auto& [width, height] : screens)
        for (const int pen : pens) {
            Screen ours(width, height);
            RandomSource random(frozenClock, seed);
            drawTick(ours.surface(), pen, random, busiestLevel);
            TickRecorder recorder(width, height);
            RandomSource again(frozenClock, seed);
            const RecordedTick& tick = recorder.record(again, busiestLevel);
            std::vector<std::pair<std::string, PictureMaker>> makers = {
                {"QPainter", qpainterPicture}, {"cairo", cairoPicture}};
            std::string whyNot;
            if (XServer* server = peers.xServer(whyNot)) {
                makers.emplace_back("X server", [server](const PeerPictureSize& size) {
                    return xServerPicture(*server, size);
                });
                if (pen == 1)
                    makers.emplace_back("X thin lines", [server](const PeerPictureSize& size) {
                        return xServerPicture(*server, size, true);
                    });
            }
            for (const auto& [name, make] : makers) {
                const auto picture = make({width, height, pen, startingPixel});
                picture->draw(tick);
                std::printf("%4dx%-6d %4d %-14s %6.2f %%\n", width, height, pen, name.c_str(),
                            100.0 * shareDiffering(ours.pixels, picture->pixels()));
            }
        }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Peers peers;
    if (argc == 2 && std::strcmp(argv[1], "--pixel-difference") == 0)
        return printPixelDifferences(peers);
    registerAll(peers);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
