#pragma once

// Checks that keyboard users can reach every command: each button, menu entry and tab title
// under a widget names an Alt+letter, and no two within reach share one.
#include <QtWidgets>

namespace rvwtest {

// One line per text without a mnemonic (a single '&'; "&&" is a literal ampersand) and per
// letter used twice; empty when all is well.
inline QStringList mnemonicProblems(const QStringList &texts)
{
    static const QRegularExpression mnemonic(QStringLiteral("(?:^|[^&])(?:&&)*&([^&])"));
    QStringList problems;
    QHash<QString, QString> seen;
    for (const QString &text : texts) {
        const QString key = mnemonic.match(text).captured(1).toLower();
        if (key.isEmpty())
            problems << QStringLiteral("no mnemonic: %1").arg(text);
        else if (seen.contains(key))
            problems << QStringLiteral("'%1' in both %2 and %3").arg(key, seen.value(key), text);
        else
            seen.insert(key, text);
    }
    return problems;
}

// The texts of the push buttons, check boxes, radio buttons and tab titles that `root` shows
// at once; tool buttons show their action's text and are checked through its menu. A dialog's
// plain OK and Cancel are left out: Enter and Escape press them.
inline QStringList keyboardTexts(const QWidget *root)
{
    QStringList texts;
    for (QAbstractButton *b : root->findChildren<QAbstractButton *>()) {
        const auto *box = qobject_cast<const QDialogButtonBox *>(b->parentWidget());
        const auto which = box ? box->standardButton(b) : QDialogButtonBox::NoButton;
        if (b->isVisibleTo(root) && !b->text().isEmpty() && !b->inherits("QToolButton") &&
            !((which == QDialogButtonBox::Ok || which == QDialogButtonBox::Cancel) &&
              !b->text().contains('&')))
            texts << b->text();
    }
    for (const QTabBar *bar : root->findChildren<QTabBar *>())
        for (int i = 0; i < bar->count(); ++i)
            texts << bar->tabText(i);
    return texts;
}

inline QStringList menuTexts(const QMenu *menu)
{
    QStringList texts;
    for (const QAction *a : menu->actions())
        if (!a->isSeparator())
            texts << a->text();
    return texts;
}

} // namespace rvwtest
