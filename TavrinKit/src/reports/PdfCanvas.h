#pragma once

#include "tavrin/reports/Graph.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

/// An in-memory PDF document drawn page by page, over cairo and Pango. Coordinates are points
/// with the origin at the bottom-left corner of the page; a text position is the left end of its
/// baseline. Every canvas has its own surface, context and font map, so canvases may be used on
/// different threads at once (one canvas stays on one thread).
class PdfCanvas {
public:
    /// The system sans-serif face, regular or bold, at `size` points; Helvetica when there is no
    /// such face.
    struct Font {
        double size = 0;
        bool bold = false;
    };

    enum class Align { left, right };

    /// A document of `width` x `height` point pages with the given title and creator metadata.
    /// When the PDF surface can't be created, `isValid()` is false and drawing does nothing.
    PdfCanvas(double width, double height, std::string_view title, std::string_view creator);
    ~PdfCanvas();
    PdfCanvas(const PdfCanvas&) = delete;
    PdfCanvas& operator=(const PdfCanvas&) = delete;

    bool isValid() const;

    /// One line of `text` in `gray` (0 black, 1 white), shortened in the middle with "…" when
    /// wider than `maxWidth`. Left-aligned, `x` is where the line starts; right-aligned, it is
    /// where the (shortened) line ends.
    void drawLine(std::string_view text, double x, double baseline, Font font, double gray,
                  double maxWidth, Align align = Align::left);

    /// The lines `text` takes when wrapped to `width`: broken between words, and inside a word
    /// only when the word alone is wider. Trailing spaces are dropped; empty text is one line.
    std::vector<std::string> wrap(std::string_view text, Font font, double width);

    /// `text` wrapped at word boundaries inside the rectangle whose bottom-left corner is (x, y),
    /// flowing from its top; lines that don't fit the height whole are left out.
    void drawParagraph(std::string_view text, double x, double y, double width, double height,
                       Font font, double gray);

    void fillRect(double x, double y, double width, double height, double gray);
    void strokeLine(double x1, double y1, double x2, double y2, double gray, double lineWidth);

    /// The loudness graph of `content` in the rectangle whose bottom-left corner is (x, y).
    void drawGraph(const Graph::Content& content, double x, double y, double width, double height,
                   const Graph::Style& style);

    /// Closes the current page; the next drawing starts a new one.
    void endPage();

    /// Closes the document and returns its bytes; empty when the canvas isn't valid or cairo
    /// reported an error. The canvas can't be drawn on afterwards.
    std::vector<std::uint8_t> finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace tavrin
