#pragma once
#include <QByteArray>
#include <QMutex>
#include <QString>
#include <map>

namespace kingyo {

// What kingyo remembers about each mail server, keyed by "host:port" ("[v6]:port"):
// the certificate the user chose to trust (its SHA-256 fingerprint in lowercase hex)
// and whether the server once offered STLS. Kept in one file, rewritten whole and
// atomically (0600) at each change. A missing, broken or unreadable file reads as
// empty; a file that exists but cannot be read is never overwritten. Without a file
// path, or when a write fails, what was learned still holds until the program ends.
// Safe to use from the mail thread and the UI thread at once.
class ServerTrust {
public:
    struct Entry {
        QByteArray fingerprint; // empty: no certificate pinned
        bool offeredStls = false;
        bool operator==(const Entry &) const = default;
    };

    // Reads path now; an empty path keeps everything in memory.
    explicit ServerTrust(QString path = {});

    static QString keyFor(const QString &host, quint16 port);

    Entry entry(const QString &key) const;
    // Each returns true when the fact is in the file afterwards (false: memory only).
    bool pinCertificate(const QString &key, const QByteArray &fingerprint);
    bool rememberStls(const QString &key);

private:
    bool save(); // with mutex_ held

    mutable QMutex mutex_;
    QString path_;
    bool mayWrite_ = true;
    std::map<QString, Entry> entries_;
};

// "ab:cd:…" in uppercase, the way certificate viewers show a fingerprint.
QString colonHex(const QByteArray &hexFingerprint);

} // namespace kingyo
