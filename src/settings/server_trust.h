#pragma once
#include <QByteArray>
#include <QMutex>
#include <QString>
#include <map>
#include <vector>

namespace kingyo {

// What kingyo remembers about one mail server.
struct ServerTrustEntry {
    QByteArray fingerprint; // the trusted certificate's SHA-256 in lowercase hex; empty: none
    bool offeredStls = false;
    bool operator==(const ServerTrustEntry &) const = default;
};

// The text of the trust file, read line by line: a header line, then one line a server,
// "key TAB fingerprint-or-- TAB stls-or--". Blank lines, "#" comments and lines that
// cannot be read keep their place and their bytes when the file is written again.
struct TrustFileText {
    enum class Kind {
        Ours,         // the header (or an empty file): read and rewritten
        NoHeader,     // server lines without the header: read, and given one when rewritten
        OtherVersion, // another format's header: not read, never replaced
        Foreign,      // no header and no server line: someone else's file, never replaced
    };
    struct Line {
        QByteArray text; // as written, without its line end
        QByteArray end;  // "\n" or "\r\n"; for a last line without one, "\r" or empty
        QString key;     // the server of a line that was read; empty for a kept line
    };
    struct Skipped {
        qsizetype number; // counted from 1, the header being line 1
        QByteArray text;
    };

    static TrustFileText parse(QByteArrayView bytes);
    // The whole file again: the lines in place, each server's line with what entries
    // say now, servers new to the file after them.
    QByteArray written() const;
    bool mayReplace() const { return kind == Kind::Ours || kind == Kind::NoHeader; }
    // Whether a server's line for key would be read back as that key.
    static bool isStorableKey(const QString &key);

    Kind kind = Kind::Ours;
    QByteArray lineEnd = "\n"; // the file's own, for the lines written anew
    std::vector<Line> lines;    // after the header
    std::map<QString, ServerTrustEntry> entries;
    std::vector<Skipped> skipped; // lines kept without being read
};

// What kingyo remembers about each mail server, keyed by "host:port" ("[v6]:port"):
// the certificate the user chose to trust and whether the server once offered STLS.
// Kept in one file, rewritten whole and atomically (0600) at each change. A line that
// cannot be read costs only itself; a file that cannot be read as a whole (missing
// rights, a folder in its place, larger than kSettingsFileLimit, someone else's) reads
// as empty and is never overwritten. What cannot be read is said once on stderr.
// Without a file path, or when a write fails, what was learned still holds until the
// program ends. Safe to use from the mail thread and the UI thread at once.
class ServerTrust {
public:
    using Entry = ServerTrustEntry;

    // Reads path now; an empty path keeps everything in memory.
    explicit ServerTrust(QString path = {});

    static QString keyFor(const QString &host, quint16 port);

    Entry entry(const QString &key) const;
    // Each returns true when the fact is in the file afterwards (false: memory only).
    bool pinCertificate(const QString &key, const QByteArray &fingerprint);
    bool rememberStls(const QString &key);

private:
    void read();
    bool save(); // with mutex_ held

    mutable QMutex mutex_;
    QString path_;
    bool mayWrite_ = true;
    TrustFileText file_;
};

// "ab:cd:…" in uppercase, the way certificate viewers show a fingerprint.
QString colonHex(const QByteArray &hexFingerprint);

} // namespace kingyo
