#include "saver/wayland/portal_picture_wayland.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include <png.h>
#include <sys/stat.h>
#include <zlib.h>

namespace zorblinth::wayland {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

TEST(PortalPicture, OnlyAPlainLocalFileIsTakenFromTheAnswer) {
    EXPECT_EQ(localPathOf("file:///home/u/Pictures/Screenshot%20from%202026.png"),
              "/home/u/Pictures/Screenshot from 2026.png");
    EXPECT_EQ(localPathOf("file://localhost/tmp/a.png"), "/tmp/a.png");
    for (const char* uri :
         {"http://example.org/a.png", "file://elsewhere/tmp/a.png", "file:tmp/a.png", "/tmp/a.png",
          "file:///tmp/a.png?x", "file:///tmp/a.png#x", "file:///tmp/a%00.png",
          "file:///tmp%2Fa.png", "file:///tmp/../etc/passwd", "file:///tmp/./a.png",
          "file:///tmp//a.png", "file:///tmp/", "file:///tmp/a%2", "file:///tmp/a%zz"})
        EXPECT_FALSE(localPathOf(uri)) << uri;
}

class PortalFile : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ =
            fs::temp_directory_path() / ("zorblinth-portal-test-" + std::to_string(::getpid()));
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    // A 3 x 2 RGB PNG: red, green, blue over white, grey, black.
    fs::path writePng(const std::string& name) {
        const fs::path path = folder_ / name;
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        image.width = 3;
        image.height = 2;
        image.format = PNG_FORMAT_RGB;
        const unsigned char pixels[] = {255, 0,   0,   0,   255, 0,   0, 0, 255,
                                        255, 255, 255, 128, 128, 128, 0, 0, 0};
        EXPECT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, pixels, 0, nullptr));
        return path;
    }
    static std::string uriOf(const fs::path& path) { return "file://" + path.string(); }
    static PortalPicture read(const fs::path& path) {
        return readPortalPicture(uriOf(path), Clock::now() + std::chrono::seconds(5));
    }

    fs::path folder_;
};

Colour colourAt(const DesktopImage& image, int x, int y) {
    return colourFromPixel(image.pixels[y * image.width + x], desktopImagePixels);
}

TEST_F(PortalFile, APictureIsReadInItsColoursAndDeletedAtOnce) {
    const fs::path path = writePng("Screenshot.png");
    const PortalPicture picture = read(path);
    ASSERT_TRUE(picture.image) << picture.failure;
    EXPECT_EQ(picture.failure, "");
    EXPECT_EQ(picture.image->width, 3);
    EXPECT_EQ(picture.image->height, 2);
    // Colours are 0x00BBGGRR.
    EXPECT_EQ(colourAt(*picture.image, 0, 0), Colour{0x0000FF});
    EXPECT_EQ(colourAt(*picture.image, 1, 0), Colour{0x00FF00});
    EXPECT_EQ(colourAt(*picture.image, 2, 0), Colour{0xFF0000});
    EXPECT_EQ(colourAt(*picture.image, 1, 1), Colour{0x808080});
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(PortalFile, ALinkOrAPipeIsNeitherReadNorDeleted) {
    const fs::path target = writePng("target.png");
    const fs::path link = folder_ / "link.png";
    fs::create_symlink(target, link);
    EXPECT_FALSE(read(link).image);
    EXPECT_TRUE(fs::exists(target));
    EXPECT_TRUE(fs::is_symlink(link));
    // A pipe nobody writes to would hold a reader for ever.
    const fs::path pipe = folder_ / "pipe.png";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const auto started = Clock::now();
    EXPECT_FALSE(read(pipe).image);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(1));
    EXPECT_TRUE(fs::exists(pipe));
    EXPECT_FALSE(read(folder_).image); // a folder
}

// The PNG with its header's size replaced (and the header's checksum made right again).
void resize(const fs::path& path, std::uint32_t width, std::uint32_t height) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<unsigned char> header(8 + 8 + 13 + 4);
    file.read(reinterpret_cast<char*>(header.data()), header.size());
    for (int i = 0; i < 4; ++i) {
        header[16 + i] = static_cast<unsigned char>(width >> (24 - 8 * i));
        header[20 + i] = static_cast<unsigned char>(height >> (24 - 8 * i));
    }
    const uLong crc = crc32(0, header.data() + 12, 4 + 13);
    for (int i = 0; i < 4; ++i)
        header[29 + i] = static_cast<unsigned char>(crc >> (24 - 8 * i));
    file.seekp(0);
    file.write(reinterpret_cast<const char*>(header.data()), header.size());
}

TEST_F(PortalFile, APictureThatCannotBeAScreenIsRefusedButStillDeleted) {
    const fs::path huge = writePng("huge.png");
    resize(huge, 20000, 20000); // each side possible, 1.6 GB together not
    PortalPicture picture = read(huge);
    EXPECT_FALSE(picture.image);
    EXPECT_NE(picture.failure.find("impossible size"), std::string::npos) << picture.failure;
    EXPECT_FALSE(fs::exists(huge));

    const fs::path wide = writePng("wide.png");
    resize(wide, 40000, 1);
    EXPECT_FALSE(read(wide).image);

    const fs::path cut = writePng("cut.png");
    fs::resize_file(cut, fs::file_size(cut) - 20);
    picture = read(cut);
    EXPECT_FALSE(picture.image);
    EXPECT_FALSE(fs::exists(cut));

    const fs::path text = folder_ / "text.png";
    std::ofstream(text) << "not a picture";
    EXPECT_FALSE(read(text).image);
    EXPECT_FALSE(fs::exists(text));
}

TEST(PortalPicture, EachOutputIsCutFromItsPlaceInTheLayoutAtThePicturesScale) {
    // 640 x 480 at (0, 0) and 800 x 600 at (640, 0): tops level, 1440 x 600 together.
    const std::vector<LayoutArea> layout{{0, 0, 640, 480}, {640, 0, 800, 600}};
    EXPECT_EQ(pictureAreaOf(layout[1], layout, 1440, 600), (PixelArea{640, 0, 800, 600}));
    // At the outputs' pixels under scale 2.
    EXPECT_EQ(pictureAreaOf(layout[0], layout, 2880, 1200), (PixelArea{0, 0, 1280, 960}));
    EXPECT_EQ(pictureAreaOf(layout[1], layout, 2880, 1200), (PixelArea{1280, 0, 1600, 1200}));
    // A layout that does not start at the origin.
    const std::vector<LayoutArea> moved{{-800, 100, 800, 600}, {0, 0, 640, 480}};
    EXPECT_EQ(pictureAreaOf(moved[0], moved, 1440, 700), (PixelArea{0, 100, 800, 600}));
    // A picture of another shape, an output outside the layout, or none described.
    EXPECT_FALSE(pictureAreaOf(layout[0], layout, 1440, 480));
    EXPECT_FALSE(pictureAreaOf({2000, 0, 640, 480}, layout, 1440, 600));
    EXPECT_FALSE(pictureAreaOf({0, 0, 0, 0}, layout, 1440, 600));
}

} // namespace
} // namespace zorblinth::wayland
