// SPDX-License-Identifier: GPL-3.0-or-later
// Qt's own texts in the user's language: the context menus of the command boxes and of the two
// LogViews read as Qt's translations say, while every text of the window itself stays as it is.

#include <QApplication>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTranslator>
#include <memory>

#include "fakes/fake_comm_device.h"
#include "logic/qt_text.h"
#include "ui/layout.h"
#include "ui/log_view.h"
#include "ui/main_window.h"
#include "ui/qt_translations.h"

using logic::Control;

namespace {

QStringList menuTexts(QWidget* box) {
    std::unique_ptr<QMenu> menu;
    if (auto* edit = qobject_cast<QLineEdit*>(box)) {
        menu.reset(edit->createStandardContextMenu());
    } else {
        menu.reset(qobject_cast<ui::LogView*>(box)->createStandardContextMenu());
    }
    QStringList texts;
    for (const QAction* action : menu->actions()) {
        if (!action->isSeparator()) {
            // The words alone: without the shortcut after the tab and the mnemonic's ampersand,
            // in brackets as Chinese writes it or inside the word.
            static const QRegularExpression mnemonic(QStringLiteral("\\(&.\\)|&"));
            texts << action->text().section(u'\t', 0, 0).remove(mnemonic);
        }
    }
    return texts;
}

}  // namespace

class TestQtTranslations : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void contextMenusFollowTheLocale_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("translated");
        QTest::addColumn<QStringList>("wanted");
        QTest::newRow("Simplified Chinese")
            << "zh_CN" << true
            << QStringList{"撤消", "重做", "剪切", "复制", "粘贴", "删除", "全选"};
        QTest::newRow("German") << "de_DE" << true
                                << QStringList{"Rückgängig",     "Wiederherstellen", "Ausschneiden",
                                               "Kopieren",       "Einfügen",         "Löschen",
                                               "Alles auswählen"};
        QTest::newRow("English") << "en_US" << false
                                 << QStringList{"Undo",  "Redo",   "Cut",       "Copy",
                                                "Paste", "Delete", "Select All"};
    }

    void contextMenusFollowTheLocale() {
        QFETCH(QString, locale);
        QFETCH(bool, translated);
        QFETCH(QStringList, wanted);
        const std::unique_ptr<QTranslator> translator(ui::installQtTranslations(QLocale(locale)));
        QCOMPARE(translator != nullptr, translated);
        fakes::FakeCommDevice device;
        ui::MainWindow window(device);
        window.load();
        for (const Control box : {Control::on1text, Control::Text1, Control::Text4}) {
            QCOMPARE(menuTexts(window.widget(box)), wanted);
        }
        // The window's own texts are the same in every language.
        for (const ui::ControlDesign& design : ui::kControls) {
            if (auto* button = qobject_cast<QPushButton*>(window.widget(design.id));
                button != nullptr && design.id != Control::Command1) {
                QCOMPARE(button->text(), logic::toQString(design.text));
            }
        }
        QCOMPARE(window.windowTitle(), logic::toQString(ui::kWindowCaption));
    }
};

QTEST_MAIN(TestQtTranslations)
#include "tst_qt_translations.moc"
