#pragma once

#include "tavrin/meter/LoudnessResult.h"
#include "tavrin/meter/Timeline.h"
#include "tavrin/rules/DeliverySpec.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

/// The loudness-over-time picture: one drawing routine for the PDF report's pages, the
/// command-line tool's images and the app's graph panel, so it looks the same everywhere.
namespace tavrin::Graph {

/// A colour with straight (not premultiplied) alpha, each part 0…1.
struct Colour {
    double red = 0, green = 0, blue = 0, alpha = 1;
    bool operator==(const Colour&) const = default;
};

/// The colours of a graph; the app passes its own palette's.
struct Palette {
    Colour background; ///< behind everything
    Colour text;       ///< labels
    Colour grid;       ///< grid lines and the lanes' frames
    Colour shortTerm;  ///< the main line
    Colour momentary;  ///< the lighter line behind it
    Colour target;     ///< the target line; its tolerance band is this, faint
    Colour integrated; ///< the integrated value's dashed line
    Colour truePeak;   ///< the peak lane's bars
    Colour fail;       ///< true peak over the ceiling, and the stretches where it is
    Colour copy;       ///< a copy's short-term line, over the original's
    bool operator==(const Palette&) const = default;

    static Palette light();
    static Palette dark();
};

struct Style {
    Palette palette = Palette::light();
    std::string fontFamily = "Helvetica";
    double fontSize = 9; ///< in the picture's units: pixels for images, points in PDF
    /// Device pixels per unit when rendering to pixels: 2 on a screen at twice the density.
    double scale = 1;
};

/// What a graph shows: one file's timeline and result, judged against a spec; all of it, or only
/// the stretch `view`; with a copy's short-term loudness over the file's when there is `copy`.
struct Content {
    const Timeline& timeline;
    const LoudnessResult& result;
    const DeliverySpec& spec;
    std::optional<TimeSpan> view{};
    const Timeline* copy = nullptr;
    /// The view measured again at 100 ms steps, for a file whose timeline has merged steps: drawn
    /// in the timeline's place where it covers the view.
    const TimelineStretch* detail = nullptr;
};

/// Where the graph's parts lie within a picture of a given size, in its units (origin top-left),
/// and how time and loudness map onto it; for a pointer that hovers over the picture.
struct Geometry {
    double plotLeft = 0, plotRight = 0;         ///< both lanes span this, x
    double loudnessTop = 0, loudnessBottom = 0; ///< the loudness lane, y
    double peakTop = 0, peakBottom = 0;         ///< the true-peak lane, y
    double lufsTop = 0, lufsBottom = 0;         ///< LUFS at the loudness lane's top and bottom
    double dbtpTop = 0, dbtpBottom = 0;         ///< dBTP at the peak lane's top and bottom
    double start = 0;                           ///< seconds into the file at the plot's left
    double duration = 0;                        ///< seconds across the plot

    double xAt(double seconds) const;
    double secondsAt(double x) const; ///< clamped to start…start + duration
    double yAtLufs(double lufs) const;
    double yAtDbtp(double dbtp) const;
};

/// The layout of a `width` × `height` picture of `content`.
Geometry geometry(const Content& content, double width, double height, const Style& style);

/// Draws the graph into a caller's buffer of premultiplied ARGB32 pixels in the processor's byte
/// order (cairo's ARGB32, Qt's Format_ARGB32_Premultiplied): `width` × `height` device pixels,
/// `stride` bytes from one row to the next. The picture is width / style.scale units wide. No
/// pointer or selection is drawn: that is the caller's to add on top.
void render(std::uint8_t* pixels, int width, int height, int stride, const Content& content,
            const Style& style);

enum class FileType { svg, png, pdf };

/// The file type named by `path`'s extension (.svg, .png or .pdf, in any letter case).
std::optional<FileType> fileTypeFor(const std::filesystem::path& path);

/// The graph as the bytes of a file: `width` × `height` pixels for PNG (times style.scale),
/// points for SVG and PDF. Empty when cairo can't make the document.
std::vector<std::uint8_t> encode(FileType type, double width, double height, const Content& content,
                                 const Style& style);

/// One sentence for assistive technology: "Short-term loudness from −31 to −14 LUFS; true peak
/// over −1.0 dBTP at 41:07–41:09" (the ceiling being the one `content.spec` sets for the file),
/// of the view when there is one.
std::string description(const Content& content);

} // namespace tavrin::Graph
