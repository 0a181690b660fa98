// jx-cli waveform: the waveform of a sample, an SDS dump or a TonePAK waveform as a picture, drawn
// as the inspector draws it: the lowest and highest value of each pixel column, per channel, with
// the loop shaded.
#ifdef JX_HAVE_PNG
#include <png.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "audio/sample_frames.h"
#include "audio/waveform_levels.h"
#include "cli/cli.h"
#include "platform/os/files.h"
#include "platform/os/paths.h"
#include "transfer/file_entry.h"

namespace jx::cli {

namespace {

const char* const waveform_help =
    "usage: jx-cli waveform FILE --out PICTURE.svg|PICTURE.png [--width N] [--height N]\n\n"
    "Draws the waveform of a WAV, AIFF or AIFC sample, an SDS dump (as far as its packets go)\n"
    "or a TonePAK waveform message: for every pixel column the lowest and highest value of the\n"
    "frames under it, one band per channel, the loop shaded. The picture's kind follows the\n"
    "extension of --out.\n\n"
    "  --out FILE   the picture written (.svg or .png)\n"
    "  --width N    its width in pixels, 16 to 20000 (default 1200)\n"
    "  --height N   its height in pixels, 16 to 20000 (default 300)\n"
    "  --help       this text\n\n"
    "Exit status 1 when the file cannot be read, holds no sound, or the picture cannot be\n"
    "written.\n";

struct Rgb {
    uint8_t r, g, b;
};
constexpr Rgb background = {255, 255, 255};
constexpr Rgb loop_shade = {214, 230, 250};
constexpr Rgb axis = {190, 190, 190};
constexpr Rgb wave = {20, 70, 160};

// What the picture shows, in pixels: per channel band and column, the rows from top to bottom of
// its stroke, and the columns of the loop.
struct Picture {
    int width, height;
    int bands;
    std::vector<std::vector<std::pair<int, int>>> strokes;  // [band][column], empty: first > second
    int loop_from = -1, loop_to = -1;                       // columns, inclusive
    int band_top(int band) const { return band * height / bands; }
    int band_bottom(int band) const { return (band + 1) * height / bands - 1; }
    int band_middle(int band) const { return (band_top(band) + band_bottom(band)) / 2; }
};

Picture lay_out(const SampleFrames& sound, int width, int height) {
    Picture p{width, height, static_cast<int>(sound.channels.size()), {}};
    const double per_column = std::max(1.0, double(sound.frames())) / width;
    std::vector<Peak> peaks(static_cast<size_t>(width));
    for (int band = 0; band < p.bands; ++band) {
        const WaveLevels levels = build_levels(sound.channels[band]);
        column_peaks(levels, 0, per_column, width, peaks.data());
        const double top = p.band_top(band) + 1, bottom = p.band_bottom(band) - 1;
        const double half = (bottom - top) / 2, middle = (top + bottom) / 2;
        auto row = [&](float value) {
            return static_cast<int>(std::lround(middle - std::clamp(value, -1.0f, 1.0f) * half));
        };
        std::vector<std::pair<int, int>> strokes(static_cast<size_t>(width), {1, 0});
        for (int x = 0; x < width; ++x)
            if (!peaks[x].empty()) strokes[x] = {row(peaks[x].high), row(peaks[x].low)};
        p.strokes.push_back(std::move(strokes));
    }
    if (sound.looped && sound.frames() > 0) {
        p.loop_from = static_cast<int>(sound.loop_start / per_column);
        // The last column that holds a frame of the loop.
        p.loop_to = static_cast<int>(std::ceil((sound.loop_end + 1) / per_column)) - 1;
        p.loop_to = std::min(std::max(p.loop_to, p.loop_from), width - 1);
    }
    return p;
}

std::string hex_colour(Rgb c) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
    return text;
}

std::string svg_text(const Picture& p) {
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      std::to_string(p.width) + "\" height=\"" + std::to_string(p.height) +
                      "\" viewBox=\"0 0 " + std::to_string(p.width) + " " +
                      std::to_string(p.height) + "\" shape-rendering=\"crispEdges\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"" + hex_colour(background) + "\"/>\n";
    if (p.loop_from >= 0)
        svg += "<rect x=\"" + std::to_string(p.loop_from) + "\" y=\"0\" width=\"" +
               std::to_string(p.loop_to - p.loop_from + 1) + "\" height=\"" +
               std::to_string(p.height) + "\" fill=\"" + hex_colour(loop_shade) + "\"/>\n";
    for (int band = 0; band < p.bands; ++band) {
        svg += "<line x1=\"0\" x2=\"" + std::to_string(p.width) + "\" y1=\"" +
               std::to_string(p.band_middle(band)) + ".5\" y2=\"" +
               std::to_string(p.band_middle(band)) + ".5\" stroke=\"" + hex_colour(axis) +
               "\"/>\n<path stroke=\"" + hex_colour(wave) + "\" d=\"";
        for (int x = 0; x < p.width; ++x) {
            const auto [top, bottom] = p.strokes[band][x];
            if (top > bottom) continue;
            // Appended piece by piece: GCC 12 reports a false overlap (-Wrestrict) for a
            // `"M" + std::to_string(x)` chain at -O3.
            svg += 'M';
            svg += std::to_string(x);
            svg += ".5 ";
            svg += std::to_string(top);
            svg += 'V';
            svg += std::to_string(bottom + 1);
        }
        svg += "\"/>\n";
    }
    return svg + "</svg>\n";
}

#ifdef JX_HAVE_PNG
std::vector<Rgb> raster(const Picture& p) {
    std::vector<Rgb> pixels(static_cast<size_t>(p.width) * p.height, background);
    auto at = [&](int x, int y) -> Rgb& { return pixels[static_cast<size_t>(y) * p.width + x]; };
    for (int x = std::max(p.loop_from, 0); p.loop_from >= 0 && x <= p.loop_to; ++x)
        for (int y = 0; y < p.height; ++y) at(x, y) = loop_shade;
    for (int band = 0; band < p.bands; ++band) {
        for (int x = 0; x < p.width; ++x) at(x, p.band_middle(band)) = axis;
        for (int x = 0; x < p.width; ++x) {
            const auto [top, bottom] = p.strokes[band][x];
            for (int y = std::max(top, 0); y <= std::min(bottom, p.height - 1); ++y)
                at(x, y) = wave;
        }
    }
    return pixels;
}

// Writes the pixels as an 8-bit RGB PNG; the reason on failure.
std::string png_bytes(const Picture& p, std::vector<uint8_t>& out) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(p.width);
    image.height = static_cast<png_uint_32>(p.height);
    image.format = PNG_FORMAT_RGB;
    const std::vector<Rgb> pixels = raster(p);
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr))
        return image.message;
    out.resize(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr))
        return image.message;
    out.resize(size);
    return {};
}
#endif

}  // namespace

int cmd_waveform(int argc, char** argv) {
    Arguments args = read_arguments(
        argc, argv, {{"out", "a file name"}, {"width", "a number"}, {"height", "a number"}});
    if (args.help) return print_help(waveform_help);
    if (!args.problem.empty()) return usage_error("waveform", args.problem);
    if (args.operands.size() != 1) return usage_error("waveform", "give exactly one file");
    std::string out;
    int width = 1200, height = 300;
    for (const auto& [name, value] : args.options) {
        if (name == "out") {
            out = value;
            continue;
        }
        const auto number = read_decimal<int>(value, 16, 20000);
        if (!number)
            return usage_error("waveform", "--" + name + " takes a number from 16 to 20000");
        (name == "width" ? width : height) = *number;
    }
    if (out.empty()) return usage_error("waveform", "--out is missing");
    const std::string extension = path_find_extension(out);
    const bool svg = extension == ".svg" || extension == ".SVG";
    if (!svg && extension != ".png" && extension != ".PNG")
        return usage_error("waveform", "--out must end in .svg or .png");
#ifndef JX_HAVE_PNG
    if (!svg) return failure("waveform", "PNG is not available in this build");
#endif

    const std::string& file = args.operands[0];
    std::string reason;
    std::unique_ptr<Entry> entry = read_file_entry(file, &reason);
    if (!entry) return failure("waveform", "cannot read '" + file + "': " + reason);
    SampleFrames sound;
    if (!read_sample_frames(entry->bytes(), entry->length(), sound) || sound.channels.empty())
        return failure("waveform", "'" + file + "' holds no sample, sample dump or waveform");

    const Picture picture = lay_out(sound, width, height);
    std::vector<uint8_t> bytes;
    if (svg) {
        const std::string text = svg_text(picture);
        bytes.assign(text.begin(), text.end());
    }
#ifdef JX_HAVE_PNG
    else if (std::string problem = png_bytes(picture, bytes); !problem.empty()) {
        return failure("waveform", "cannot make the PNG: " + problem);
    }
#endif
    if (std::string problem; !write_file_atomically(out, bytes.data(), bytes.size(), &problem))
        return failure("waveform", "cannot write '" + out + "': " + problem);
    return 0;
}

}  // namespace jx::cli
