// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>

#include "ui/lamp.h"
#include "ui/log_view.h"
#include "ui/log_view_accessible.h"

namespace ui {

namespace {

// A lamp: a picture, named for what it shows, checked while it is lit. (Qt's Indicator role
// would reach AT-SPI as "unknown".)
class LampAccessible : public QAccessibleWidget {
public:
    explicit LampAccessible(Lamp* lamp) : QAccessibleWidget(lamp, QAccessible::Graphic) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.checked = static_cast<const Lamp*>(widget())->isLit();
        return state;
    }
};

// Qt asks with the name of each class of the object in turn, its own class first, so each of
// these classes is matched by its name alone.
QAccessibleInterface* factory(const QString& className, QObject* object) {
    if (className == QLatin1StringView(LogView::staticMetaObject.className())) {
        return new LogViewAccessible(static_cast<LogView*>(object));
    }
    if (className == QLatin1StringView(Lamp::staticMetaObject.className())) {
        return new LampAccessible(static_cast<Lamp*>(object));
    }
    // Qt takes a plain QWidget for a part of a window ("filler"), even where it is a window
    // of its own, as the main window and the simulated board's panel are.
    if (className == QLatin1StringView("QWidget") && object->isWidgetType() &&
        static_cast<QWidget*>(object)->isWindow()) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    }
    return nullptr;
}

}  // namespace

void installAccessibleInterfaces() {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
}

}  // namespace ui
