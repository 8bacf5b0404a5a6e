#include "app/TransferNotifier.h"

#include <QElapsedTimer>
#include <QStringList>

namespace {

// Per event: what one file and many files are told as, and the title of a message of it alone.
struct EventText {
    const char *one; // %1: the file's name
    const char *many; // %1: how many
    const char *title;
};

const EventText kTexts[TransferNotifier::EventCount] = {
    { "发送失败 %1", "%1 个文件发送失败", "文件发送失败" },
    { "已拒绝 %1", "已拒绝 %1 个文件", "文件被拒绝" },
    { "已接收 %1", "已接收 %1 个文件", "文件已接收" },
};

const QString kMixedTitle = QStringLiteral("文件传输");
// Beyond this many, the failures told are forgotten rather than held for ever.
constexpr int kFailuresRemembered = 4096;

qint64 monotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

TransferNotifier::TransferNotifier(QObject *parent)
    : QObject(parent)
    , m_clock(&monotonicMs)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &TransferNotifier::flushIfDue);
}

void TransferNotifier::onOutcome(int page, bool sending, TransferOutcome::Kind outcome,
    const QString &fileName, const QString &status)
{
    if (sending && TransferOutcome::hasEnded(outcome) && outcome != TransferOutcome::Failed)
        m_failuresTold.remove(fileName);
    if (outcome == TransferOutcome::Refused)
        add(Refused, fileName, page);
    else if (!sending && outcome == TransferOutcome::Done)
        add(Received, fileName, page);
    else if (sending && (outcome == TransferOutcome::Failed || outcome == TransferOutcome::Waiting)
        && !TransferOutcome::isStoppedByUser(status) && !m_failuresTold.contains(fileName)) {
        if (m_failuresTold.size() >= kFailuresRemembered)
            m_failuresTold.clear();
        m_failuresTold.insert(fileName);
        add(GaveUp, fileName, page);
    }
}

void TransferNotifier::add(Event event, const QString &fileName, int page)
{
    if (!m_enabled || (m_seen && m_seen(page)))
        return;
    const qint64 now = m_clock();
    if (m_firstMs < 0)
        m_firstMs = now;
    m_lastMs = now;
    Tally &tally = m_tallies[event];
    if (tally.count++ == 0) {
        tally.firstName = fileName;
        tally.page = page;
    }
    if (!m_timer.isActive())
        m_timer.start(int(kQuietMs));
}

void TransferNotifier::flushIfDue()
{
    if (m_firstMs < 0)
        return;
    const qint64 now = m_clock();
    const qint64 due = qMin(m_lastMs + kQuietMs, m_firstMs + kLongestWaitMs);
    if (now >= due)
        flush();
    else
        m_timer.start(int(due - now));
}

void TransferNotifier::flush()
{
    int page = 0;
    bool warning = false;
    for (int event = 0; event < EventCount; ++event) {
        if (m_tallies[event].count > 0) {
            page = m_tallies[event].page;
            warning = event != Received;
            break;
        }
    }
    const QString message = text();
    const QString heading = title();
    for (Tally &tally : m_tallies)
        tally = Tally();
    m_firstMs = -1;
    m_timer.stop();
    emit notify(heading, message, warning, page);
}

QString TransferNotifier::text() const
{
    QStringList lines;
    for (int event = 0; event < EventCount; ++event) {
        const Tally &tally = m_tallies[event];
        if (tally.count == 1)
            lines << QString::fromUtf8(kTexts[event].one).arg(tally.firstName);
        else if (tally.count > 1)
            lines << QString::fromUtf8(kTexts[event].many).arg(tally.count);
    }
    return lines.join(QLatin1Char('\n'));
}

QString TransferNotifier::title() const
{
    int told = -1;
    for (int event = 0; event < EventCount; ++event) {
        if (m_tallies[event].count == 0)
            continue;
        if (told >= 0)
            return kMixedTitle;
        told = event;
    }
    return QString::fromUtf8(kTexts[told].title);
}
