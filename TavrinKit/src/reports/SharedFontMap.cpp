#include "reports/SharedFontMap.h"

#include <pango/pangocairo.h>

namespace tavrin {
namespace {

std::recursive_mutex& mutex() {
    static std::recursive_mutex shared;
    return shared;
}

} // namespace

SharedFontMap::SharedFontMap() : m_inUse(mutex()) {}

PangoFontMap* SharedFontMap::get() const {
    static PangoFontMap* const map = pango_cairo_font_map_new(); // lives as long as the process
    return map;
}

} // namespace tavrin
