// Asks the screenshot portal for the permission as `zorblinth --autostart` does, and prints the
// answer's name and detail on one line, for the end-to-end tests: portal_ask_wayland SECONDS
#include "saver/wayland/screenshot_portal_wayland.hpp"

#include <chrono>
#include <cstdlib>
#include <iostream>

int main(int argc, char** argv) {
    using namespace zorblinth::wayland;
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5;
    const PermissionRequest request =
        askScreenshotPermission(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(seconds)));
    const char* names[] = {"allowed", "denied", "noAnswer", "unavailable"};
    std::cout << names[static_cast<int>(request.answer)] << ": " << request.detail << '\n';
    return 0;
}
