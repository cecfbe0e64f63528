#pragma once
#include <QString>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kingyo {

// The unique IDs of the messages that earlier checks of one account on one server saw,
// kept in a file of their own in the data folder (one ID a line, readable by the owner
// only), so a later check can tell which messages are new.
class SeenMessageStore {
public:
    // Room for about 118,000 IDs of RFC 1939's longest, and for kMaxIds at most of any
    // length (the memory the IDs take grows with their number as much as with their
    // bytes); a bigger store is not read, and more IDs than fit are not stored.
    static constexpr qint64 kFileLimit = 8 * 1024 * 1024;
    static constexpr std::size_t kMaxIds = 250000;

    SeenMessageStore(const QString &folder, const QString &server, const QString &user);

    const QString &path() const { return path_; }
    // The IDs stored; empty when there is no store yet or it cannot be read (over
    // kFileLimit or kMaxIds, say).
    std::set<std::string> load() const;
    // Replaces the stored IDs with ids, so IDs the server no longer holds are dropped.
    // Written beside the old store and renamed over it. A store that could not be read
    // (over kFileLimit or kMaxIds, or not a regular file) is left as it is, said once a
    // run on stderr. False when nothing was stored, as for more IDs than kFileLimit or
    // kMaxIds holds.
    bool save(const std::vector<std::string> &ids) const;

private:
    QString path_;
};

// Where an earlier IMAP check of an account stopped: messages of the mailbox whose
// UIDs are uidNext or above came after it, as long as its UIDVALIDITY is the same.
struct UnreadMark {
    std::int64_t uidValidity = -1;
    std::int64_t uidNext = -1;
    bool operator==(const UnreadMark &) const = default;
};

// The UnreadMark of one account on one IMAP server, in the data folder beside the
// seen-ID files (readable by the owner only).
class UnreadMarkStore {
public:
    UnreadMarkStore(const QString &folder, const QString &server, const QString &user);

    const QString &path() const { return path_; }
    // None when there is no mark yet or the file does not hold one.
    std::optional<UnreadMark> load() const;
    // Written beside the old mark and renamed over it; a file that could not be read is
    // left as it is, as the seen IDs' store. False when nothing was stored.
    bool save(const UnreadMark &mark) const;

private:
    QString path_;
};

// How many of the server's messages carry an ID that is not in seen.
int countNewMessages(const std::set<std::string> &seen, const std::vector<std::string> &onServer);

} // namespace kingyo
