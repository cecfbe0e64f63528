#pragma once
#include "app/program.h"
#include "panel/id_pass_form.h"
#include "panel/option_form.h"
#include "panel/set_form.h"
#include "mail/mail_library.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kingyo::test {

// Records the start-up calls; a mail check is never run here.
class RecordingMail : public MailLibrary {
public:
    QStringList calls;

    void initialize() override { calls << QStringLiteral("initialize"); }
    void setOption(int option, int value) override { calls << QStringLiteral("setOption %1 %2").arg(option).arg(value); }
    void connect(const QString &, QDeadlineTimer, Answer) override {}
    Counting counting(int) const override { return Counting::Waiting; }
    void countUnread(int, const QString &, const MailSecret &, std::optional<UnreadMark>, int, UnreadAnswer) override {}
    void authenticate(int, const QString &, const MailSecret &, bool, Use, Answer) override {}
    int mailStatus(int, int) override { return -1; }
    std::int64_t mailSize(int, int) override { return -1; }
    void fetchMail(int, int, Answer) override {}
    void messageIds(int, IdsAnswer) override {}
    void messageHeaders(int, int, HeadersAnswer) override {}
    MailFailure lastFailure() const override { return {}; }
    void close(int) override {}
    void end() override { calls << QStringLiteral("end"); }
    void abandon() override {}
};

// A program folder with its "★MailData" folder and a server file path, all in a fresh
// temporary folder, and the windows created from them.
struct SettingsWorld {
    SettingsWorld()
    {
        AppPaths paths;
        paths.programDir = dir.path();
        paths.serverFile = dir.filePath(QStringLiteral("vbmail.ini"));
        context.settings.setPaths(paths);
        QDir(dir.path()).mkdir(QStringLiteral("★MailData"));
        context.mail = &mail;
        wireWindows(context);
    }

    ~SettingsWorld()
    {
        context.setForm.discard();
        context.idPassForm.discard();
        context.optionForm.discard();
    }

    static void put(const QString &path, const QByteArray &contents)
    {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
        file.write(contents);
    }

    static QByteArray contentsOf(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    // Windows closed by the user delete themselves once the event loop comes round.
    static void runDeferredDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    QTemporaryDir dir;
    RecordingMail mail;
    Program context;
};

class SettingsWindowsTest : public ::testing::Test, protected SettingsWorld {};

} // namespace kingyo::test
