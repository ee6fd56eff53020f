#pragma once

#include "update/UpdateChecker.h"

#include <QDialog>

namespace rvw {

// Offers a newer release: download now, be reminded later, or skip this version.
// A critical release cannot be skipped; showing it clears a previously skipped version.
// exec() is accepted after Download and rejected otherwise.
class UpdateDialog : public QDialog
{
    Q_OBJECT
public:
    UpdateDialog(const UpdateChecker::Release &release, QWidget *parent);

    // "d MMMM yyyy" for an ISO date, the text unchanged when it is not one.
    static QString displayDate(const QString &isoDate);

private:
    UpdateChecker::Release m_release;
};

} // namespace rvw
