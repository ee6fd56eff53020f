#pragma once

// Answers the modal dialogs and popup menus that a command opens, one step per dialog, in order.
#include <QtTest>
#include <QtWidgets>

namespace rvwtest {

using Step = std::function<void(QWidget *)>;

// Presses `button` of a message box, noting its title and text; any other dialog is closed and
// named among the titles.
inline Step answer(QMessageBox::StandardButton button, QStringList *titles, QStringList *texts = nullptr)
{
    return [=](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        *titles << (box ? box->windowTitle() : QStringLiteral("unexpected ") + w->metaObject()->className());
        if (texts)
            *texts << (box ? box->text() : QString());
        if (box && box->button(button))
            box->button(button)->click();
        else
            w->close();
    };
}

// Runs `command`, handing each dialog or popup menu that opens, and was not handed on before,
// to the next step, waiting up to `waitMs` after it for dialogs still to come. Returns how many
// steps found no dialog. After 20 s without a new dialog every open one is rejected, so that a
// dialog no step expected fails the test instead of blocking it.
inline int drive(const std::function<void()> &command, QList<Step> steps, int waitMs = 20000)
{
    QList<QPointer<QWidget>> handled;
    QDeadlineTimer deadline(20000);
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget *w = QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                       : QApplication::activeModalWidget();
        if (deadline.hasExpired() && qobject_cast<QDialog *>(w))
            static_cast<QDialog *>(w)->reject();
        else if (deadline.hasExpired() && w)
            w->close();
        if (steps.isEmpty() || !w || !w->isVisible() || handled.contains(w) || deadline.hasExpired())
            return;
        handled << w;
        deadline.setRemainingTime(20000);
        // Later, so that this timer stays free to answer a dialog that the step itself opens.
        QTimer::singleShot(0, w, [w, step = steps.takeFirst()] { step(w); });
    });
    timer.start(20);
    command();
    (void)QTest::qWaitFor([&] { return steps.isEmpty(); }, waitMs);
    return int(steps.size());
}

} // namespace rvwtest
