#pragma once

#include "saver/canvas.hpp"
#include "saver/raster/pixel_surface.hpp"
#include "saver/random_source.hpp"
#include "saver/raster/tick_raster.hpp"

#include <chrono>
#include <cstdint>
#include <functional>

namespace zorblinth {

// Screen pixels that earn one more line per tick at this level: 10^((10 - level) / 5) * 10000,
// rounded half to even. Five levels make a factor of ten. Defined for levels 0 to 31.
std::int32_t areaPerLine(std::uint8_t lineAmount);

// Lines per tick on a canvas of this size: one more than the area divided by areaPerLine.
std::int32_t linesPerTick(int width, int height, std::uint8_t lineAmount);

// An end point coordinate along a side of the given length, floor((length + 41) * draw - 20):
// from -20 to length + 20. The draw is a multiple of 2^-24 in [0, 1), as RandomSource gives.
std::int32_t randomCoordinate(int sideLength, float draw);

// Every 24-bit colour, black included.
Colour randomColour(float draw);

// Tells whether keyboard or mouse input is waiting for the saver.
using InputWaiting = std::function<bool()>;

// How often a tick in progress asks: a long tick must not keep a returning user waiting.
inline constexpr std::chrono::microseconds inputCheckInterval{1000};

// One tick of the picture: linesPerTick() lines with random end points and colours, then one
// black box with random corners. Draws come in the order x1, y1, x2, y2, colour for each line,
// then x1, y1, x2, y2 for the box. The level must be in the dialog's range.
//
// While drawing, asks inputWaiting (when given) about once every inputCheckInterval and stops
// at once when it says yes: the input ends the saver, so the rest would never be seen. Returns
// false when it stopped early.
bool drawTick(Canvas& canvas, RandomSource& random, std::uint8_t lineAmount,
              const InputWaiting& inputWaiting = {});

// The same tick drawn straight onto a picture with a pen of this width: the saver's own path.
// Leaves exactly the pixels the canvas version leaves through a PixelCanvas, with the same
// draws, but makes the strokes first and then draws them a band of rows at a time, over every
// core (see drawInBands): a tick's cost then follows the screen's size, not how far its strokes
// scatter over a picture larger than the caches. Input is asked about from the calling thread
// only, as often as the canvas version asks.
bool drawTick(const PixelSurface& picture, int penWidth, RandomSource& random,
              std::uint8_t lineAmount, const InputWaiting& inputWaiting = {});

// The same, keeping its working storage in `workspace` for the next tick.
bool drawTick(const PixelSurface& picture, int penWidth, RandomSource& random,
              std::uint8_t lineAmount, TickWorkspace& workspace,
              const InputWaiting& inputWaiting = {});

} // namespace zorblinth
