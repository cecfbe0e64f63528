// Writes two complete accounts in turn into the "★MailData" of the folder given, for
// ever, so that a test can end it at any moment of a write. Says "writing" first.
#include "settings/account_file.h"
#include "settings/app_paths.h"

#include <QString>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    const kingyo::AppPaths paths{.programDir = QString::fromLocal8Bit(argv[1])};
    const kingyo::Account accounts[] = {{QStringLiteral("alice"), QStringLiteral("pie")},
                                        {QStringLiteral("bob"), QStringLiteral("pie")}};
    std::puts("writing");
    std::fflush(stdout);
    for (unsigned turn = 0;; ++turn)
        kingyo::writeAccount(paths, accounts[turn % 2], true);
}
