#pragma once
#include "mail/imap/imap_channel.h"
#include "mail/mail_library.h"

#include <functional>
#include <optional>

namespace kingyo {

// Counts the unread messages of INBOX over a logged-in channel, as
// MailLibrary::countUnread() describes: STATUS first, which alone answers a quiet
// mailbox and gives the count of all unread; EXAMINE and a SEARCH of the unread UIDs
// after a mark (new-only), or of the newest messages only, widened while it finds fewer
// than `summaries` (for the names); one FETCH for the newest ones' headers. A SEARCH
// answer that contradicts STATUS fails the count. Answers through done, with the
// failure beside a negative result, or never once the channel is abandoned.
void countUnread(ImapChannel &channel, std::optional<UnreadMark> since, int summaries,
                 std::function<void(UnreadCount, const MailFailure &)> done);

} // namespace kingyo
