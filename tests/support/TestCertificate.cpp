#include "tests/support/TestCertificate.h"

#include <QFile>
#include <QProcess>

TTestCertificate::TTestCertificate() {
    if (!FDir.isValid()) {
        FError = "no temporary folder";
        return;
    }
    QFile extensions(QString::fromStdString(Path("server.ext")));
    if (!extensions.open(QIODevice::WriteOnly) ||
        extensions.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                         "basicConstraints=CA:FALSE\n"
                         "keyUsage=digitalSignature,keyEncipherment\n"
                         "extendedKeyUsage=serverAuth\n") < 0) {
        FError = "cannot write server.ext";
        return;
    }
    extensions.close();
    const auto at = [this](const char* name) { return QString::fromStdString(Path(name)); };
    Run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
         "/CN=TavirelBrisvane test authority", "-keyout", at("ca.key"), "-out", at("ca.pem")}) &&
        Run({"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
             at("server.key"), "-out", at("server.csr")}) &&
        Run({"x509", "-req", "-in", at("server.csr"), "-CA", at("ca.pem"), "-CAkey", at("ca.key"),
             "-CAcreateserial", "-days", "2", "-extfile", at("server.ext"), "-out",
             at("server.pem")});
}

std::string TTestCertificate::Path(const char* name) const {
    return FDir.filePath(QString::fromLatin1(name)).toStdString();
}

bool TTestCertificate::Run(const QStringList& arguments) {
    QProcess openssl;
    openssl.start("openssl", arguments);
    if (!openssl.waitForFinished(60'000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0) {
        FError = "openssl " + arguments.first().toStdString() +
                 " failed: " + openssl.readAllStandardError().toStdString();
        return false;
    }
    return true;
}
