#pragma once

// Checks that keyboard users can reach every command: each button, menu entry and tab title
// under a widget names an Alt+letter, and no two within reach share one.
#include <QAbstractButton>
#include <QAction>
#include <QDialogButtonBox>
#include <QHash>
#include <QMenu>
#include <QStringList>
#include <QTabBar>
#include <QWidget>

namespace rvwtest {

// The letter after a single '&' ("&&" is a literal ampersand); a null QChar when none.
inline QChar mnemonicOf(const QString &text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text.at(i) != QLatin1Char('&'))
            continue;
        if (text.at(i + 1) == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return text.at(i + 1).toLower();
    }
    return QChar();
}

// One line per text without a mnemonic and per letter used twice; empty when all is well.
inline QStringList mnemonicProblems(const QStringList &texts)
{
    QStringList problems;
    QHash<QChar, QString> seen;
    for (const QString &text : texts) {
        const QChar key = mnemonicOf(text);
        if (key.isNull())
            problems << QStringLiteral("no mnemonic: %1").arg(text);
        else if (seen.contains(key))
            problems << QStringLiteral("'%1' in both %2 and %3").arg(key).arg(seen.value(key), text);
        else
            seen.insert(key, text);
    }
    return problems;
}

// A dialog's plain OK and Cancel are pressed with Enter and Escape.
inline bool pressedByEnterOrEscape(const QAbstractButton *b)
{
    const auto *box = qobject_cast<const QDialogButtonBox *>(b->parentWidget());
    if (!box || !mnemonicOf(b->text()).isNull())
        return false;
    const auto which = box->standardButton(const_cast<QAbstractButton *>(b));
    return which == QDialogButtonBox::Ok || which == QDialogButtonBox::Cancel;
}

// The texts of the push buttons, check boxes, radio buttons and tab titles that `root` shows
// at once; tool buttons show their action's text and are checked through its menu.
inline QStringList keyboardTexts(const QWidget *root)
{
    QStringList texts;
    for (const QAbstractButton *b : root->findChildren<QAbstractButton *>()) {
        if (b->isVisibleTo(root) && !b->text().isEmpty() && !b->inherits("QToolButton") &&
            !pressedByEnterOrEscape(b))
            texts << b->text();
    }
    for (const QTabBar *bar : root->findChildren<QTabBar *>()) {
        for (int i = 0; i < bar->count(); ++i)
            texts << bar->tabText(i);
    }
    return texts;
}

inline QStringList menuTexts(const QMenu *menu)
{
    QStringList texts;
    for (const QAction *a : menu->actions()) {
        if (!a->isSeparator())
            texts << a->text();
    }
    return texts;
}

} // namespace rvwtest
