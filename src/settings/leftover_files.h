#pragma once
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <chrono>

namespace kingyo {

// Removes from folder what a write cut short by a crash left there: the temporary that
// an atomic write makes beside one of kingyo's own files (the server, option, account
// and trust files, the refresh token's file, a seen-ID or unread-mark file), named
// "<file>.XXXXXX" with six letters. Only
// regular files of this user, unchanged for minimumAge before now, so that a write in
// progress elsewhere keeps its temporary; links, folders and other names stay.
// Returns the names removed.
QStringList removeLeftoverTemporaries(const QString &folder, const QDateTime &now,
                                      std::chrono::seconds minimumAge = std::chrono::minutes(1));

} // namespace kingyo
