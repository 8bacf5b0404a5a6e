#pragma once

#include <QString>

// Reading and writing the figures of a status row. The workers write rates with
// BaseFunction::readableRate ("108.516 MB/s", "1.5 KB/s", "512 byte/s") while data moves, and
// "0 Mbps" or "0/Kbps" when idle; sizes with BaseFunction::calcSize ("2.86MB", "23 bytes").
class RateText
{
public:
    // The bytes per second a rate text stands for, or -1 for a text that is no rate (idle).
    static double bytesPerSecond(const QString &text);
    // A rate in readableRate's units with a fixed two decimals ("108.52 MB/s"); whole bytes
    // below 1 KB/s ("512 byte/s").
    static QString fixed(double bytesPerSecond);
    // What a running row shows for its rate text: the same rate in fixed precision, and an idle
    // text as nothing moving ("0 byte/s"), so that a running row reads in one family of units.
    static QString whileRunning(const QString &text);
    // The bytes a size text stands for, to the precision it shows; -1 when it is no size.
    static double bytesOfSize(const QString &text);
};
