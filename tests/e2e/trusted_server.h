#pragma once
#include "e2e_support.h"

#include <QCryptographicHash>
#include <QSslCertificate>
#include <gtest/gtest.h>

#include <fstream>

namespace kingyo::e2e {

// Trusts the test Dovecot's self-signed certificate on 127.0.0.1:port for the copy in
// folder, as a user who answered "はい" once did.
inline void trustCertificate(const KingyoFolder &folder, const TestDovecot &server, int port)
{
    const QList<QSslCertificate> certificates =
        QSslCertificate::fromPath(QString::fromStdString(server.certificate().string()));
    ASSERT_EQ(certificates.size(), 1);
    std::ofstream(folder.mailData() / "servers.txt", std::ios::binary)
        << "kingyo-server-trust 1\n127.0.0.1:" << port << '\t'
        << certificates.first().digest(QCryptographicHash::Sha256).toHex().toStdString() << "\t-\n";
}

} // namespace kingyo::e2e
