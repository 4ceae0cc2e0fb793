// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/app_icon.h"

#include <QDirIterator>

namespace ui {

QIcon appIcon() {
    // The resource holds one PNG per size (ui/CMakeLists.txt); each brings its own size.
    QIcon builtIn;
    QDirIterator sizes(QStringLiteral(":/icons"), {QStringLiteral("*.png")}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (sizes.hasNext()) {
        builtIn.addFile(sizes.next());
    }
    return QIcon::fromTheme(QStringLiteral("zeva-relay-test"), builtIn);
}

}  // namespace ui
