#include "saver/wayland/kwin_screenshot_wayland.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>

namespace zorblinth::wayland {
namespace {

PictureDescription raw(std::uint32_t width, std::uint32_t height, std::uint32_t stride,
                       std::uint32_t format = 6) {
    return {"raw", format, width, height, stride};
}

// How a pixel KWin wrote reads back in the format the saver takes it to be in.
Colour colourOf(const std::byte (&bytes)[4], std::uint32_t qimageFormat) {
    std::uint32_t pixel;
    std::memcpy(&pixel, bytes, sizeof pixel);
    return colourFromPixel(pixel, *kwinPixelFormat(qimageFormat));
}

TEST(KWinPicture, ItsFormatsReadAsTheColoursKWinMeant) {
    // Colours are 0x00BBGGRR: orange is 0x0080FF.
    // ARGB32 words (and the premultiplied form KWin's OpenGL grab gives): 0xAARRGGBB.
    std::byte word[4];
    const std::uint32_t orange = 0xFFFF8000u;
    std::memcpy(word, &orange, sizeof word);
    for (std::uint32_t format : {4u, 5u, 6u})
        EXPECT_EQ(colourOf(word, format), Colour{0x0080FF}) << format;
    // RGBA8888 and kin: bytes R, G, B, A in memory, whatever the machine's byte order.
    const std::byte bytes[4] = {std::byte{255}, std::byte{128}, std::byte{0}, std::byte{255}};
    for (std::uint32_t format : {16u, 17u, 18u})
        EXPECT_EQ(colourOf(bytes, format), Colour{0x0080FF}) << format;
    // 24-bit, 16-bit and grey pictures are not read as if they were 32-bit.
    for (std::uint32_t format : {0u, 3u, 7u, 13u, 24u, 28u})
        EXPECT_FALSE(kwinPixelFormat(format)) << format;
}

TEST(KWinPicture, ADescriptionIsBelievedOnlyWhenItCanBeAScreen) {
    EXPECT_EQ(checkDescription(raw(800, 600, 3200)).bytes, 800u * 600 * 4);
    EXPECT_TRUE(checkDescription(raw(800, 600, 3200)).problem.empty());
    // Padded rows are fine; the padding is part of what comes down the pipe.
    EXPECT_EQ(checkDescription(raw(799, 600, 3200)).bytes, 3200u * 600);
    EXPECT_EQ(checkDescription(raw(7680, 4320, 7680 * 4)).bytes, 7680u * 4320 * 4);

    const PictureDescription wrong[] = {
        {"png", 6, 800, 600, 3200}, // older KWin wrote PNG files into the pipe
        raw(800, 600, 3200, 13),    // RGB888
        raw(0, 600, 3200),
        raw(800, 0, 3200),
        raw(800, 600, 3196),           // rows shorter than the width
        raw(40000, 600, 160000),       // wider than any screen
        raw(32768, 32768, 32768u * 4), // 4 GiB claimed
        raw(1000, 1000, 0xFFFFFFFFu),  // a stride whose product would overflow 32 bits
    };
    for (const PictureDescription& description : wrong) {
        const DescriptionCheck check = checkDescription(description);
        EXPECT_FALSE(check.problem.empty())
            << description.type << ' ' << description.width << 'x' << description.height;
        EXPECT_EQ(check.bytes, 0u);
    }
}

TEST(KWinPicture, WithoutASessionBusEveryScreenSaysWhy) {
    const char* const before = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string saved = before ? before : "";
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    const std::string names[] = {"DP-1", "HDMI-A-1"};
    const auto captures =
        captureScreens(names, std::chrono::steady_clock::now() + std::chrono::milliseconds(200));
    if (before)
        setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), 1);
    else
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ASSERT_EQ(captures.size(), 2u);
    for (const ScreenCapture& capture : captures) {
        EXPECT_FALSE(capture.picture);
        EXPECT_NE(capture.failure.find("no session bus"), std::string::npos) << capture.failure;
    }
}

} // namespace
} // namespace zorblinth::wayland
