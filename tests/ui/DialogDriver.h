#pragma once

// Answers modal dialogs and popup menus that a command opens, one step per dialog, in order.
#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace rvwtest {

class DialogDriver : public QObject
{
public:
    using Step = std::function<void(QWidget *)>;

    DialogDriver()
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
    }

    // The next dialog (or popup menu) that appears, other than the one handled last, goes to `step`.
    DialogDriver &then(Step step)
    {
        m_steps.append(std::move(step));
        m_deadline.setRemainingTime(kGiveUpMs);
        m_timer.start();
        return *this;
    }

    // Answers a message box with `button`, remembering its title and text.
    DialogDriver &answer(QMessageBox::StandardButton button)
    {
        return then([this, button](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (!box) {
                m_unexpected.append(w->metaObject()->className());
                w->close();
                return;
            }
            m_titles.append(box->windowTitle());
            m_texts.append(box->text());
            if (QAbstractButton *b = box->button(button))
                b->click();
            else
                box->close();
        });
    }

    bool done() const { return m_steps.isEmpty(); }
    int handled() const { return m_handled; }
    const QStringList &titles() const { return m_titles; }
    const QStringList &texts() const { return m_texts; }
    const QStringList &unexpected() const { return m_unexpected; }

private:
    void poll()
    {
        if (m_steps.isEmpty()) {
            m_timer.stop();
            return;
        }
        if (m_deadline.hasExpired()) {
            giveUp();
            return;
        }
        QWidget *w = QApplication::activePopupWidget();
        if (!w)
            w = QApplication::activeModalWidget();
        if (!w || !w->isVisible() || w == m_last)
            return;
        m_last = w;
        const Step step = m_steps.takeFirst();
        ++m_handled;
        m_deadline.setRemainingTime(kGiveUpMs);
        step(w);
    }

    // A dialog the steps did not expect (or a step that failed to close its dialog) would block the
    // test inside exec() for ever; after a while every open dialog is rejected so the test can fail.
    void giveUp()
    {
        m_unexpected.append(QStringLiteral("gave up waiting with %1 step(s) left").arg(m_steps.size()));
        m_timer.stop(); // the steps stay, so done() stays false and the test fails
        while (QWidget *w = QApplication::activeModalWidget()) {
            if (auto *d = qobject_cast<QDialog *>(w))
                d->reject();
            else
                w->close();
            QApplication::processEvents();
            if (QApplication::activeModalWidget() == w)
                break;
        }
    }

    static constexpr int kGiveUpMs = 20000;
    QTimer m_timer;
    QDeadlineTimer m_deadline;
    QList<Step> m_steps;
    QPointer<QWidget> m_last;
    int m_handled = 0;
    QStringList m_titles;
    QStringList m_texts;
    QStringList m_unexpected;
};

} // namespace rvwtest
