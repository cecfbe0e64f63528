// Feeds a server's header block to the summary a notification shows. Whatever the
// bytes, the summary must come back, each line capped and free of control characters.
#include "mail/mail_headers.h"

#include <cstdint>
#include <cstdlib>

namespace {

bool isShowable(const QString &line, qsizetype limit)
{
    if (line.size() > limit)
        return false;
    for (QChar c : line) {
        if (c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size)
{
    if (size > std::size_t(kingyo::kHeaderBlockLimit))
        return 0;
    const kingyo::MailSummary summary =
        kingyo::summarizeHeaders(QByteArrayView(reinterpret_cast<const char *>(bytes), qsizetype(size)));
    if (!isShowable(summary.from, 80) || !isShowable(summary.subject, 120))
        std::abort();
    return 0;
}
