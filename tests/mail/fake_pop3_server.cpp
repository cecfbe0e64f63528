#include "fake_pop3_server.h"

#include <QFile>
#include <gtest/gtest.h>

namespace kingyo::test {

namespace {

constexpr int kStartMs = 10000;
constexpr int kFinishMs = 10000;

// A small EC certificate, made in a moment.
void makeCertificate(const QTemporaryDir &dir, const QString &altNames)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1",
                   "-subj", "/CN=localhost", "-addext", "subjectAltName=" + altNames, "-keyout",
                   dir.filePath("key.pem"), "-out", dir.filePath("cert.pem")});
    ASSERT_TRUE(openssl.waitForFinished(kStartMs));
    ASSERT_EQ(openssl.exitCode(), 0) << openssl.readAllStandardError().toStdString();
}

} // namespace

FakePop3Server::FakePop3Server(const QString &scenario, const QString &altNames)
{
    makeCertificate(dir_, altNames);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral("python3"), {QStringLiteral(KINGYO_FAKE_POP3_SERVER), scenario,
                                               dir_.filePath("received"), dir_.filePath("cert.pem"),
                                               dir_.filePath("key.pem")});
    while (!process_.canReadLine()) {
        if (!process_.waitForReadyRead(kStartMs)) {
            ADD_FAILURE() << "the fake server did not start";
            return;
        }
    }
    const QByteArray line = process_.readLine().trimmed();
    if (!line.startsWith("PORT "))
        ADD_FAILURE() << "unexpected first line from the fake server: " << line.toStdString();
    port_ = static_cast<quint16>(line.mid(5).toUInt());
}

FakePop3Server::~FakePop3Server()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(kFinishMs);
    }
}

QByteArray FakePop3Server::received()
{
    // The end may already have been seen while the test ran the event loop;
    // waitForFinished() answers false for a process that is no longer running.
    if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(kFinishMs))
        ADD_FAILURE() << "the fake server did not finish";
    else if (process_.exitStatus() != QProcess::NormalExit || process_.exitCode() != 0)
        ADD_FAILURE() << "the fake server failed, exit code " << process_.exitCode();
    return receivedSoFar();
}

QByteArray FakePop3Server::receivedSoFar() const
{
    QFile record(dir_.filePath("received"));
    return record.open(QIODevice::ReadOnly) ? record.readAll() : QByteArray();
}

} // namespace kingyo::test
