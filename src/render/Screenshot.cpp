#include <fstream>
#include <vector>

#include "render/Renderer.hpp"

namespace zarn {

std::string ppmHeader(std::int32_t width, std::int32_t height) {
    return "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
}

bool writePpm(const std::filesystem::path& path, const FrameImage& image) {
    if (image.width < 1 || image.height < 1 || image.pitch < static_cast<std::size_t>(image.width) * 4 ||
        image.pixels.size() < (static_cast<std::size_t>(image.height) - 1) * image.pitch +
                                  static_cast<std::size_t>(image.width) * 4) {
        return false;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        return false;
    }
    const std::string header = ppmHeader(image.width, image.height);
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    // Three bytes a pixel: the alpha byte of the read-back is dropped.
    std::vector<char> row(static_cast<std::size_t>(image.width) * 3);
    for (std::int32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* source = image.pixels.data() + static_cast<std::size_t>(y) * image.pitch;
        for (std::int32_t x = 0; x < image.width; ++x) {
            for (int k = 0; k < 3; ++k) {
                row[static_cast<std::size_t>(x) * 3 + static_cast<std::size_t>(k)] =
                    static_cast<char>(source[static_cast<std::size_t>(x) * 4 + static_cast<std::size_t>(k)]);
            }
        }
        out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
    out.flush();
    return !out.fail();
}

bool Renderer::capture(const std::filesystem::path& path) {
    try {
        FrameImage image;
        return backend && backend->readFrame(image) && writePpm(path, image);
    } catch (...) {
        return false; // a screenshot never ends the program
    }
}

} // namespace zarn
