#pragma once

// A certificate authority and a server certificate for 127.0.0.1 and
// localhost, made fresh for a test with the openssl command, so that HTTPS can
// be tested on loopback with the certificate checked.

#include <QTemporaryDir>

#include <string>

class TTestCertificate {
public:
    // Makes the files; Ok() tells whether it worked (Error() says why not).
    TTestCertificate();

    bool Ok() const { return FError.empty(); }
    const std::string& Error() const { return FError; }

    // PEM files: the authority to trust, and the server's certificate and key.
    std::string CaFile() const { return Path("ca.pem"); }
    std::string CertFile() const { return Path("server.pem"); }
    std::string KeyFile() const { return Path("server.key"); }

private:
    std::string Path(const char* name) const;
    bool Run(const QStringList& arguments);

    QTemporaryDir FDir;
    std::string FError;
};
