#include "mail/imap/imap_unread_count.h"

#include <algorithm>
#include <memory>

namespace kingyo {
namespace {

using Done = std::function<void(UnreadCount, const MailFailure &)>;

// The newest unread messages are looked for among the last kFirstWindow messages, then
// further back in windows kWindowGrowth times wider, none wider than kWidestWindow (its
// answer stays within the reader's limit however many are unread), and no further back
// than kNamesWithin messages from the newest: past that the count goes without names.
constexpr std::int64_t kFirstWindow = 1000;
constexpr std::int64_t kWindowGrowth = 8;
constexpr std::int64_t kWidestWindow = 65536;
constexpr std::int64_t kNamesWithin = 200000;

// The count and mark so far, carried from one answer to the next.
struct Counting {
    ImapChannel &channel;
    int summaries;
    Done done;
    ImapMailboxStatus told; // by STATUS
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

// New-only: the unread messages from fromUid on are the count.
void countFrom(const CountingPtr &counting, std::uint32_t fromUid)
{
    counting->channel.examine([counting, fromUid](const ImapEvent &examined) {
        if (examined.result < 0)
            return fail(counting, examined);
        counting->channel.searchUnseen({fromUid, 0, 0, counting->told}, [counting](const ImapEvent &searched) {
            if (searched.result < 0)
                return fail(counting, searched);
            counting->found.result = std::int64_t(searched.uids.size());
            readNewest(counting, searched.uids);
        });
    });
}

// The count is STATUS's; the unread among the messages up to position `last` are looked
// for, a window at a time, until enough are found for the names (or all there are).
// `found`: those of the windows after this one; `searched`: how many messages they hold.
void searchBack(const CountingPtr &counting, std::int64_t last, std::int64_t width, std::int64_t searched,
                std::vector<std::uint32_t> found)
{
    const std::int64_t first = std::max<std::int64_t>(1, last - width + 1);
    const UnseenSearch window{0, std::uint32_t(first), std::uint32_t(last), counting->told};
    counting->channel.searchUnseen(window, [=, found = std::move(found)](const ImapEvent &event) mutable {
        if (event.result < 0)
            return fail(counting, event);
        found.insert(found.begin(), event.uids.begin(), event.uids.end());
        const std::int64_t covered = searched + last - first + 1;
        const auto enough = std::size_t(std::min<std::int64_t>(counting->summaries, counting->told.unseen));
        if (found.size() >= enough || first == 1 || covered >= kNamesWithin)
            return readNewest(counting, found);
        searchBack(counting, first - 1, std::min(width * kWindowGrowth, kWidestWindow), covered, std::move(found));
    });
}

void nameNewest(const CountingPtr &counting)
{
    counting->channel.examine([counting](const ImapEvent &examined) {
        if (examined.result < 0)
            return fail(counting, examined);
        const std::int64_t messages = std::min<std::int64_t>(examined.status.messages, UINT32_MAX);
        if (messages <= 0)
            return counting->done(std::move(counting->found), {});
        searchBack(counting, messages, kFirstWindow, 0, {});
    });
}

} // namespace

void countUnread(ImapChannel &channel, std::optional<UnreadMark> since, int summaries, Done done)
{
    auto counting = std::make_shared<Counting>(Counting{channel, summaries, std::move(done), {}, {}});
    channel.status([counting, since](const ImapEvent &event) {
        if (event.result < 0)
            return fail(counting, event);
        const ImapMailboxStatus &status = event.status;
        counting->told = status;
        counting->found.mark = {status.uidValidity, status.uidNext};
        const bool sameMailbox = since && since->uidValidity == status.uidValidity && status.uidValidity >= 0;
        if (sameMailbox && status.uidNext >= 0 && status.uidNext <= since->uidNext)
            return counting->done(std::move(counting->found), {}); // nothing came since
        if (status.unseen == 0)
            return counting->done(std::move(counting->found), {});
        if (sameMailbox)
            return countFrom(counting, std::uint32_t(std::clamp<std::int64_t>(since->uidNext, 0, UINT32_MAX)));
        if (status.unseen < 0) // not told: every unread message is searched for
            return countFrom(counting, 0);
        counting->found.result = status.unseen;
        if (counting->summaries <= 0)
            return counting->done(std::move(counting->found), {});
        nameNewest(counting);
    });
}

} // namespace kingyo
