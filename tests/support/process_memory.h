#pragma once
#include <QFile>
#include <QRegularExpression>
#include <cstdint>

namespace kingyo::test {

// A "Key:  N kB" figure of this process from /proc/self/status (VmRSS, VmHWM...), or -1.
inline std::int64_t statusKilobytes(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression pattern(QStringLiteral("^%1:\\s+(\\d+) kB").arg(QLatin1String(key)),
                                     QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(status.readAll()));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

// Resets the peak resident size (VmHWM) to the present one, so that a later peak
// belongs to what ran after this; false when the kernel refused.
inline bool resetPeakMemory()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && clearRefs.write("5") == 1;
}

} // namespace kingyo::test
