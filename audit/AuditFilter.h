#pragma once

#include "audit/AuditKind.h"
#include "audit/TimeBound.h"
#include "views/transfers/TransferOutcome.h"

#include <QByteArray>
#include <QDate>
#include <QString>

// Which events to list: what gapaudit's options and the history page's controls mean, in one
// place. Empty texts do not filter.
struct AuditFilter {
    // Success and Failure go by the event's flag: Failure is any outcome but success. Refused,
    // Failed and Waiting are the outcomes of the client's vocabulary (AuditOutcome).
    enum Outcome { AnyOutcome, Success, Failure, Refused, Failed, Waiting };

    QByteArray sinceUtc; // first time included, as stored ("...Z")
    QByteArray beforeUtc; // first time excluded
    QByteArray untilUtc; // last time included
    QByteArray category;
    QByteArray user;
    QByteArray gap;
    AuditKind kind = AuditKind::Any;
    Outcome outcome = AnyOutcome;
    QString search; // a text the detail contains; ASCII letters match in either case
    qint64 afterId = 0; // only events stored after the one with this id; 0: all

    // Bounds the times by a date or date-time as TimeBound reads it; false when the text is
    // neither.
    bool setBound(const QString &text, TimeBound::Kind kind);
    // The choice of the events of one outcome of the vocabulary; AnyOutcome for Running, as no
    // event is written while a file runs.
    static Outcome forKind(TransferOutcome::Kind kind);

    // Whole local days from first to last, both included; a null date leaves that end open. The
    // same as gapaudit --since FIRST --until LAST with dates.
    void setDays(const QDate &first, const QDate &last);
};
