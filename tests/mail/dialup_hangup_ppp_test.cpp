#include "mail/dialup_hangup.h"

#include <QDBusConnection>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace kingyo {
namespace {

// pppd links found through pid files: the test starts stand-ins named "pppd" (a
// link to sleep, so the kernel names the process pppd) and ordinary processes.
class PppHangupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(runDir.isValid());
        pppdPath = binDir.filePath(QStringLiteral("pppd"));
        ASSERT_TRUE(QFile::link(QStringLiteral("/bin/sleep"), pppdPath));
    }

    void TearDown() override
    {
        for (QProcess *process : processes) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(3000);
            }
            delete process;
        }
    }

    QProcess *startProcess(const QString &program)
    {
        auto *process = new QProcess;
        processes.push_back(process);
        process->start(program, {QStringLiteral("60")});
        EXPECT_TRUE(process->waitForStarted(3000));
        return process;
    }

    void writePidFile(const QString &name, const QByteArray &content)
    {
        QFile file(runDir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    void writePidFile(const QString &name, const QProcess *process)
    {
        writePidFile(name, QByteArray::number(process->processId()) + "\n");
    }

    // Gives the links asked to hang up, -1 when the hang-up never ended.
    static int hangUp(QStringList dirs)
    {
        const QDBusConnection noBus =
            QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("ppp-test"));
        DialupHangup hangup(noBus, std::move(dirs));
        QSignalSpy finished(&hangup, &DialupHangup::finished);
        hangup.hangUpAll();
        return finished.wait(10000) ? finished.constFirst().constFirst().toInt() : -1;
    }

    static bool endedBySignal(QProcess *process)
    {
        return process->waitForFinished(5000) && process->exitStatus() == QProcess::CrashExit;
    }

    static bool stillRunning(QProcess *process) { return !process->waitForFinished(200); }

    QTemporaryDir runDir;
    QTemporaryDir binDir;
    QString pppdPath;
    std::vector<QProcess *> processes;
};

TEST_F(PppHangupTest, EveryPppdNamedByAPidFileIsTerminated)
{
    QProcess *unit0 = startProcess(pppdPath);
    QProcess *named = startProcess(pppdPath);
    writePidFile(QStringLiteral("ppp0.pid"), unit0);
    writePidFile(QStringLiteral("ppp-provider.pid"), named);

    EXPECT_EQ(hangUp({runDir.path()}), 2);

    EXPECT_TRUE(endedBySignal(unit0));
    EXPECT_TRUE(endedBySignal(named));
}

TEST_F(PppHangupTest, APidFileNamingAnotherProgramIsLeftAlone)
{
    QProcess *other = startProcess(QStringLiteral("/bin/sleep"));
    writePidFile(QStringLiteral("ppp0.pid"), other);

    EXPECT_EQ(hangUp({runDir.path()}), 0);

    EXPECT_TRUE(stillRunning(other));
}

TEST_F(PppHangupTest, OnlyPppPidFilesAreRead)
{
    QProcess *pppd = startProcess(pppdPath);
    writePidFile(QStringLiteral("pppd.conf"), pppd);
    writePidFile(QStringLiteral("dhclient.pid"), pppd);

    EXPECT_EQ(hangUp({runDir.path()}), 0);

    EXPECT_TRUE(stillRunning(pppd));
}

TEST_F(PppHangupTest, BrokenPidFilesAndMissingFoldersAreSkipped)
{
    QProcess *pppd = startProcess(pppdPath);
    writePidFile(QStringLiteral("ppp1.pid"), QByteArray("not a number\n"));
    writePidFile(QStringLiteral("ppp2.pid"), QByteArray("-1\n"));
    writePidFile(QStringLiteral("ppp3.pid"), QByteArray("99999999999999999999\n"));
    writePidFile(QStringLiteral("ppp4.pid"), QByteArray());
    writePidFile(QStringLiteral("ppp5.pid"), pppd);

    EXPECT_EQ(hangUp({runDir.filePath(QStringLiteral("missing")), runDir.path()}), 1);

    EXPECT_TRUE(endedBySignal(pppd));
}

} // namespace
} // namespace kingyo
