#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace rvw {

// Turns a JSON report into the list of files that may be moved into the quarantine:
// only copies marked "keep": false whose bytes are still those the report hashed, and
// only from groups that still keep at least one intact copy.
class ReportQuarantine
{
public:
    struct Move
    {
        QString path;
        qint64 size = 0;
    };
    struct Plan
    {
        QStringList roots;
        QList<Move> moves;
        QStringList skipped; // one message per file or group left alone
        qint64 bytes = 0;
    };

    // False when the report cannot be read or is not a report; `error` says why.
    static bool plan(const QString &reportPath, Plan &plan, QString *error);
};

} // namespace rvw
