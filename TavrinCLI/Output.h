#pragma once

#include "Measuring.h"
#include "tavrin/DeliverySpec.h"

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace tavrin::cli {

/// The results table for people: a header, then one line per file as it is added.
class Table {
public:
    /// Column widths fit the longest of `files`' names (up to a limit; longer names are
    /// shortened in the middle). With `colour`, results and out-of-spec numbers are coloured.
    Table(const std::vector<std::filesystem::path>& files, const DeliverySpec& spec, bool colour);

    void printHeader(std::ostream& out) const;
    void printRow(std::ostream& out, const std::filesystem::path& file,
                  const Reading& reading) const;

private:
    const DeliverySpec& m_spec;
    std::size_t m_fileWidth;
    bool m_colour;
};

/// One line of JSON Lines output for a file (without the line end).
std::string jsonLine(const std::filesystem::path& file, const Reading& reading,
                     const DeliverySpec& spec);

/// "3 files: 1 pass, 1 fail, 1 without a reading".
std::string tallyLine(const std::vector<Reading>& readings, const DeliverySpec& spec);

/// Display width of UTF-8 text in a terminal, counting one column per code point.
std::size_t displayWidth(std::string_view text);

/// `text` cut in the middle with "…" to at most `width` columns.
std::string shortenMiddle(std::string_view text, std::size_t width);

} // namespace tavrin::cli
