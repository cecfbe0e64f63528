#include "mail/imap/imap_unread_count.h"

#include <algorithm>
#include <memory>

namespace kingyo {
namespace {

using Done = std::function<void(UnreadCount, const MailFailure &)>;

// The count and mark so far, carried from one answer to the next.
struct Counting {
    ImapChannel &channel;
    int summaries;
    Done done;
    UnreadCount found;
};
using CountingPtr = std::shared_ptr<Counting>;

void fail(const CountingPtr &counting, const ImapEvent &event)
{
    counting->found.result = event.result;
    counting->done(std::move(counting->found), event.failure);
}

void readNewest(const CountingPtr &counting, const std::vector<std::uint32_t> &unread)
{
    const std::size_t wanted = std::min(unread.size(), std::size_t(std::max(counting->summaries, 0)));
    const std::vector<std::uint32_t> newest(unread.end() - std::ptrdiff_t(wanted), unread.end());
    if (newest.empty())
        return counting->done(std::move(counting->found), {});
    counting->channel.fetchHeaders(newest, [counting](const ImapEvent &event) {
        // Without headers the count still stands: the notice names fewer senders.
        auto headers = event.headers;
        std::sort(headers.begin(), headers.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
        for (auto &[uid, block] : headers)
            counting->found.headers.push_back(std::move(block));
        counting->done(std::move(counting->found), {});
    });
}

void searchFrom(const CountingPtr &counting, std::uint32_t fromUid)
{
    counting->channel.examine([counting, fromUid](const ImapEvent &examined) {
        if (examined.result < 0)
            return fail(counting, examined);
        counting->channel.searchUnseen(fromUid, [counting](const ImapEvent &searched) {
            if (searched.result < 0)
                return fail(counting, searched);
            UnreadCount &found = counting->found;
            found.result = std::int64_t(searched.uids.size());
            // Mail that came between STATUS and SEARCH is counted now, so not again.
            if (!searched.uids.empty())
                found.mark.uidNext = std::max<std::int64_t>(found.mark.uidNext, std::int64_t(searched.uids.back()) + 1);
            readNewest(counting, searched.uids);
        });
    });
}

} // namespace

void countUnread(ImapChannel &channel, std::optional<UnreadMark> since, int summaries, Done done)
{
    auto counting = std::make_shared<Counting>(Counting{channel, summaries, std::move(done), {}});
    channel.status([counting, since](const ImapEvent &event) {
        if (event.result < 0)
            return fail(counting, event);
        const ImapMailboxStatus &status = event.status;
        counting->found.mark = {status.uidValidity, status.uidNext};
        const bool sameMailbox = since && since->uidValidity == status.uidValidity && status.uidValidity >= 0;
        if (sameMailbox && status.uidNext >= 0 && status.uidNext <= since->uidNext)
            return counting->done(std::move(counting->found), {}); // nothing came since
        if (status.unseen == 0)
            return counting->done(std::move(counting->found), {});
        const std::uint32_t fromUid = sameMailbox ? std::uint32_t(std::clamp<std::int64_t>(since->uidNext, 0, UINT32_MAX)) : 0;
        searchFrom(counting, fromUid);
    });
}

} // namespace kingyo
