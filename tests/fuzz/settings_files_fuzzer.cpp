// Feeds arbitrary bytes to the readers of the server file and of the profile files,
// and checks that what the writers make of the result reads back unchanged.
#include "settings/profile_file.h"
#include "settings/server_file.h"
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    checkServerFile(input);
    checkProfile(input);
    return 0;
}
