// SPDX-License-Identifier: GPL-3.0-or-later
// The floor of the click-to-wire path on this machine: a bare Qt window with nothing but channel
// 1's "打开" button where the program has it, whose click writes the frame to the line. Started as
// bench_program starts the program (--port COM1=PATH), it shows how much of the program's figure
// the X server, Qt's event delivery and the kernel take before any of the program's own code runs.

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QStringList>
#include <QWidget>

#include "bench_common.h"
#include "ui/layout.h"

int main(int argc, char* argv[]) {
    const QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    const qsizetype at = arguments.indexOf(QStringLiteral("--port"));
    if (at < 0 || at + 1 >= arguments.size() || !arguments.at(at + 1).startsWith(u"COM1=")) {
        return 2;
    }
    const QByteArray path = arguments.at(at + 1).mid(5).toLocal8Bit();
    const int line = ::open(path.constData(), O_RDWR | O_NOCTTY);
    if (line < 0) {
        return 1;
    }
    const double dpi = QWidget().logicalDpiY();
    QWidget window;
    window.setFixedSize(ui::twipsToPixels(ui::kClientWidthTwips, dpi),
                        ui::twipsToPixels(ui::kClientHeightTwips, dpi));
    QPushButton button(QStringLiteral("打开"), &window);
    button.setGeometry(bench::controlRect(logic::Control::on1, dpi));
    QObject::connect(&button, &QPushButton::clicked, [line] {
        static constexpr char kFrame[] = {'\xA0', '\x01', '\x03', '\xA4'};
        [[maybe_unused]] const ssize_t written = ::write(line, kFrame, sizeof kFrame);
    });
    window.show();
    return QApplication::exec();
}
