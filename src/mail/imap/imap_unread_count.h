#pragma once
#include "mail/imap/imap_channel.h"
#include "mail/mail_library.h"

#include <functional>
#include <optional>

namespace kingyo {

// Counts the unread messages of INBOX over a logged-in channel, as
// MailLibrary::countUnread() describes: STATUS first, which alone answers a quiet
// mailbox; EXAMINE and a SEARCH of the unread UIDs only when there is something to
// count; one FETCH for the newest ones' headers. Answers through done, with the failure
// beside a negative result, or never once the channel is abandoned.
void countUnread(ImapChannel &channel, std::optional<UnreadMark> since, int summaries,
                 std::function<void(UnreadCount, const MailFailure &)> done);

} // namespace kingyo
