#pragma once

// Private to TavrinKit: the one Pango font map every document and picture lays its text out with.

#include <mutex>

typedef struct _PangoFontMap PangoFontMap;

namespace tavrin {

/// The process's font map, held for as long as this lives. Each Pango font map starts a
/// fontconfig thread of its own and loads its fonts afresh, so a map per document cost time and
/// left a thread ending after every report; and a font map may be used by one thread at a time.
/// The same thread may hold it again: a graph drawn into a PDF report lays out its own text.
class SharedFontMap {
public:
    SharedFontMap();
    PangoFontMap* get() const;

private:
    std::unique_lock<std::recursive_mutex> m_inUse;
};

} // namespace tavrin
