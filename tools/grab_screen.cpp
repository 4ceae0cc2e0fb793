// SPDX-License-Identifier: GPL-3.0-or-later
// grab-screen FILE.png: saves what the X display shows to a PNG file. Used by scripts/screenshot
// under Xvfb, where there is no screenshot program; it needs nothing beyond Qt.

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char* argv[]) {
    const QGuiApplication application(argc, argv);
    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() != 2) {
        std::fputs("usage: grab-screen FILE.png\n", stderr);
        return 2;
    }
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    if (shot.isNull() || !shot.save(arguments[1], "PNG")) {
        std::fprintf(stderr, "grab-screen: could not save %s\n", qPrintable(arguments[1]));
        return 1;
    }
    return 0;
}
