#include "saver/wayland/portal_picture_wayland.hpp"

#include "saver/posix/termination_signals_posix.hpp"
#include "saver/wayland/picture_wayland.hpp"
#include "saver/wayland/session_bus_wayland.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorblinth::wayland {

namespace {

using Clock = std::chrono::steady_clock;

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The file, opened, with what deleting it said.
struct TakenFile {
    FileDescriptor file;
    std::string failure;
    bool deleted = false;
    std::string notDeleted; // why it is still there, where it is
};

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Opens the portal's file without following a link in its name and deletes it, once it is
// known to be a regular file of ours: a portal's answer must not make the saver read from a
// device or a pipe, nor delete what is not the portal's picture.
TakenFile takeFile(const std::string& path) {
    TakenFile taken;
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = path.substr(slash + 1);
    const FileDescriptor directory(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() < 0) {
        taken.failure = systemError("cannot open the folder of the portal's picture");
        return taken;
    }
    FileDescriptor file(openat(directory.get(), name.c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) {
        taken.failure = errno == ELOOP ? "the portal named a symbolic link, not a picture"
                                       : systemError("cannot open the portal's picture");
        return taken;
    }
    struct stat opened {};
    if (fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
        taken.failure = "the portal named something that is not a file";
        return taken;
    }
    if (opened.st_uid != geteuid()) {
        taken.failure = "the portal's picture belongs to another user";
        return taken;
    }
    // Deleted only while the name still leads to the file opened.
    struct stat named {};
    if (fstatat(directory.get(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        named.st_dev != opened.st_dev || named.st_ino != opened.st_ino)
        taken.notDeleted = "its name went elsewhere";
    else if (unlinkat(directory.get(), name.c_str(), 0) != 0)
        taken.notDeleted = std::strerror(errno);
    else
        taken.deleted = true;
    if (opened.st_size > static_cast<off_t>(largestPictureBytes)) {
        taken.failure = "the portal's picture is larger than any screen";
        return taken;
    }
    taken.file = std::move(file);
    return taken;
}

// What libpng's error handler leaves for the reader.
struct PngErrors {
    std::string problem;
};

[[noreturn]] void pngFailed(png_structp png, png_const_charp message) {
    auto& errors = *static_cast<PngErrors*>(png_get_error_ptr(png));
    errors.problem = message ? message : "a PNG error";
    png_longjmp(png, 1);
}

void pngWarned(png_structp, png_const_charp) {}

// libpng's reading state and the file it reads; let go of together.
struct PngReader {
    PngErrors errors;
    std::FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngReader() {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        if (file)
            std::fclose(file);
    }
};

bool overdue(Clock::time_point deadline) {
    return Clock::now() >= deadline || posix::TerminationSignals::requested();
}

// Decodes into `image` as B, G, R, X bytes. libpng leaves this function by longjmp on a fault, so
// it holds nothing that needs destroying between its setjmp and the calls into libpng.
bool decode(PngReader& reader, DesktopImage& image, Clock::time_point deadline) {
    png_structp png = reader.png;
    png_infop info = reader.info;
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, reader.file);
    png_set_user_limits(png, largestScreenSide, largestScreenSide);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (width == 0 || height == 0 ||
        std::size_t{width} * height * sizeof(std::uint32_t) > largestPictureBytes) {
        reader.errors.problem =
            "an impossible size (" + std::to_string(width) + "x" + std::to_string(height) + ")";
        return false;
    }
    // Every kind of PNG to 8-bit B, G, R and a fourth byte that the saver ignores.
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != std::size_t{width} * 4) {
        reader.errors.problem = "pixels the saver does not read";
        return false;
    }
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    image.pixels.assign(std::size_t{width} * height, 0);
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y) {
            if (y % 64 == 0 && overdue(deadline)) {
                reader.errors.problem = "not read in time";
                return false;
            }
            png_read_row(png, reinterpret_cast<png_bytep>(&image.pixels[std::size_t{y} * width]),
                         nullptr);
        }
    return true;
}

} // namespace

std::optional<std::string> localPathOf(std::string_view uri) {
    constexpr std::string_view scheme = "file://";
    if (uri.substr(0, scheme.size()) != scheme)
        return std::nullopt;
    uri.remove_prefix(scheme.size());
    if (uri.substr(0, 9) == "localhost")
        uri.remove_prefix(9);
    if (uri.empty() || uri.front() != '/' || uri.find_first_of("?#") != std::string_view::npos)
        return std::nullopt;
    std::string path;
    for (std::size_t i = 0; i < uri.size(); ++i) {
        char c = uri[i];
        if (c == '%') {
            const int high = i + 2 < uri.size() ? hexDigit(uri[i + 1]) : -1;
            const int low = i + 2 < uri.size() ? hexDigit(uri[i + 2]) : -1;
            if (high < 0 || low < 0)
                return std::nullopt;
            c = static_cast<char>(high * 16 + low);
            if (c == '\0' || c == '/')
                return std::nullopt;
            i += 2;
        } else if (c == '\0') {
            return std::nullopt;
        }
        path += c;
    }
    // Every component a name: no "." or "..", nothing empty, no folder alone.
    for (std::size_t start = 1; start <= path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view component = std::string_view(path).substr(start, end - start);
        if (component.empty() || component == "." || component == "..")
            return std::nullopt;
        start = end + 1;
    }
    return path;
}

PortalPicture readPortalPicture(std::string_view uri, Clock::time_point deadline) {
    const std::optional<std::string> path = localPathOf(uri);
    if (!path)
        return {nullptr, "the portal's answer is not a plain local file"};
    TakenFile taken = takeFile(*path);
    std::string notDeleted;
    if (!taken.notDeleted.empty())
        notDeleted = "; cannot delete " + *path + ": " + taken.notDeleted;
    if (!taken.failure.empty())
        return {nullptr, taken.failure + notDeleted};

    PngReader reader;
    const int copy = fcntl(taken.file.get(), F_DUPFD_CLOEXEC, 0);
    reader.file = copy >= 0 ? fdopen(copy, "rb") : nullptr;
    if (!reader.file) {
        if (copy >= 0)
            close(copy);
        return {nullptr, systemError("cannot read the portal's picture") + notDeleted};
    }
    reader.png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &reader.errors, pngFailed, pngWarned);
    if (reader.png)
        reader.info = png_create_info_struct(reader.png);
    if (!reader.info)
        return {nullptr, "cannot read the portal's picture: out of memory" + notDeleted};
    auto image = std::make_shared<DesktopImage>();
    if (!decode(reader, *image, deadline))
        return {nullptr, "the portal's picture: " + reader.errors.problem + notDeleted};
    if (!notDeleted.empty())
        return {std::move(image), notDeleted.substr(2)};
    return {std::move(image), {}};
}

std::string deletePortalFile(std::string_view uri) {
    const std::optional<std::string> path = localPathOf(uri);
    if (!path)
        return "the portal's answer is not a plain local file";
    const TakenFile taken = takeFile(*path);
    if (taken.deleted)
        return {};
    if (!taken.notDeleted.empty())
        return "cannot delete " + *path + ": " + taken.notDeleted;
    return taken.failure;
}

std::optional<PixelArea> pictureAreaOf(const LayoutArea& output, std::span<const LayoutArea> layout,
                                       int pictureWidth, int pictureHeight) {
    if (layout.empty() || pictureWidth <= 0 || pictureHeight <= 0 || output.width <= 0 ||
        output.height <= 0)
        return std::nullopt;
    std::int64_t left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;
    for (const LayoutArea& area : layout) {
        left = std::min<std::int64_t>(left, area.x);
        top = std::min<std::int64_t>(top, area.y);
        right = std::max<std::int64_t>(right, std::int64_t{area.x} + area.width);
        bottom = std::max<std::int64_t>(bottom, std::int64_t{area.y} + area.height);
    }
    if (right <= left || bottom <= top || output.x < left || output.y < top ||
        output.x + std::int64_t{output.width} > right ||
        output.y + std::int64_t{output.height} > bottom)
        return std::nullopt;
    // One scale both ways, within a pixel of rounding.
    const double scale = static_cast<double>(pictureWidth) / static_cast<double>(right - left);
    if (std::abs(static_cast<double>(bottom - top) * scale - pictureHeight) > 1.0)
        return std::nullopt;
    const auto at = [scale](std::int64_t logical, int side) {
        return static_cast<int>(std::clamp<double>(std::round(logical * scale), 0, side));
    };
    const int x0 = at(output.x - left, pictureWidth);
    const int y0 = at(output.y - top, pictureHeight);
    const int x1 = at(output.x + std::int64_t{output.width} - left, pictureWidth);
    const int y1 = at(output.y + std::int64_t{output.height} - top, pictureHeight);
    if (x1 <= x0 || y1 <= y0)
        return std::nullopt;
    return PixelArea{x0, y0, x1 - x0, y1 - y0};
}

} // namespace zorblinth::wayland
