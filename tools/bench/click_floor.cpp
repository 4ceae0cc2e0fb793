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
#include <optional>

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
    const auto pixels = [dpi](int twips) { return ui::twipsToPixels(twips, dpi); };
    QWidget window;
    window.setFixedSize(pixels(ui::kClientWidthTwips), pixels(ui::kClientHeightTwips));
    QPushButton button(QStringLiteral("打开"), &window);
    int left = 0;
    int top = 0;
    for (std::optional<ui::Control> c = ui::Control::on1; c; c = ui::design(*c).parent) {
        left += pixels(ui::design(*c).left);
        top += pixels(ui::design(*c).top);
    }
    button.setGeometry(left, top, pixels(ui::design(ui::Control::on1).width),
                       pixels(ui::design(ui::Control::on1).height));
    QObject::connect(&button, &QPushButton::clicked, [line] {
        static constexpr char kFrame[] = {'\xA0', '\x01', '\x03', '\xA4'};
        [[maybe_unused]] const ssize_t written = ::write(line, kFrame, sizeof kFrame);
    });
    window.show();
    return QApplication::exec();
}
