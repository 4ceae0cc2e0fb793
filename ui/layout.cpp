#include "ui/layout.h"

#include <cmath>

namespace ui {

int twipsToPixels(int twips, double dpi) {
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

}  // namespace ui
