// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Qt's own texts (the text boxes' context menus, the standard dialogs' buttons) in the user's
// language, from the translations Qt installs. The program's own texts are Chinese in every
// language and are not translated.

class QLocale;
class QTranslator;

namespace ui {

// Loads Qt's translations for `locale` into the running application and returns them (the
// application owns them); nullptr when Qt has none for it (English, or no translations
// installed), and Qt then speaks English.
QTranslator* installQtTranslations(const QLocale& locale);

}  // namespace ui
