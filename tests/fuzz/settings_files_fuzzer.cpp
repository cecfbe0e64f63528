// Feeds arbitrary bytes to the readers of the server file, the profile files and the
// trust file, and checks that what the writers make of the result reads back unchanged.
#include "settings/profile_file.h"
#include "settings/server_file.h"
#include "settings/server_trust.h"
#include "settings/shared_state.h"

#include <cstdint>
#include <cstdlib>

namespace {

bool sameServerSettings(const kingyo::SharedState &a, const kingyo::SharedState &b)
{
    return a.smtpServer == b.smtpServer && a.pop3Server == b.pop3Server && a.mailAddress == b.mailAddress
        && a.apopFlag == b.apopFlag;
}

void checkServerFile(QByteArrayView input)
{
    kingyo::SharedState read;
    kingyo::applyServerFileContents(input, read);
    kingyo::SharedState readBack;
    kingyo::applyServerFileContents(kingyo::serverFileContents(read), readBack);
    if (!sameServerSettings(read, readBack))
        std::abort();
}

void checkProfile(QByteArrayView input)
{
    (void)kingyo::profile::findValue(input, "EXEINI", "NAME");
    // Any value the dialogs can hold (one line) must read back exactly as written.
    QByteArray value = input.first(std::min<qsizetype>(input.size(), 24)).toByteArray();
    value.replace('\n', ' ');
    const QByteArray written = kingyo::profile::withValue(input, "EXEINI", "NAME", value);
    if (kingyo::profile::findValue(written, "exeini", "name") != value)
        std::abort();
}

std::vector<QByteArray> keptLines(const kingyo::TrustFileText &file)
{
    std::vector<QByteArray> kept;
    for (const auto &line : file.lines)
        if (line.key.isEmpty())
            kept.push_back(line.text);
    return kept;
}

// Every line that was not read comes back as written, and every server as read.
void checkTrustFile(QByteArrayView input)
{
    const kingyo::TrustFileText read = kingyo::TrustFileText::parse(input);
    if (!read.mayReplace())
        return;
    const QByteArray written = read.written();
    const kingyo::TrustFileText readBack = kingyo::TrustFileText::parse(written);
    if (readBack.kind != kingyo::TrustFileText::Kind::Ours || readBack.entries != read.entries
        || keptLines(readBack) != keptLines(read) || readBack.written() != written)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    checkServerFile(input);
    checkProfile(input);
    checkTrustFile(input);
    return 0;
}
