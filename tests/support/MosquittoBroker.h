#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace kivo::test {

// A mosquitto broker of the test's own, listening on a free port of 127.0.0.1 and on a local
// socket in a temporary folder, configured by a file written there. Started and stopped by its
// process id; a stopped broker starts again on the same port, without the retained messages of
// its previous run (no persistence).
class MosquittoBroker
{
public:
    // settings: configuration lines after the listeners (default: anonymous clients allowed);
    // "{dir}" in them stands for the broker's temporary folder.
    // With tls, a third listener takes TLS connections with a certificate for 127.0.0.1 made
    // for the broker (caFile()).
    explicit MosquittoBroker(
        const QStringList& settings = { QStringLiteral("allow_anonymous true") }, bool tls = false);
    ~MosquittoBroker();

    // Starts the broker and waits until it accepts connections (at most 10 s); false, with the
    // broker's output in a warning, when it does not.
    bool start();
    // Ends the broker with SIGTERM (it disconnects its clients in order) and waits for it.
    void stop();
    // Ends the broker with SIGKILL and waits for it.
    void kill();
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

    int port() const { return m_port; }
    // "mqtt://127.0.0.1:<port>"
    QString url() const;
    // The local socket's path.
    QString socketPath() const;
    // "mqtts://127.0.0.1:<port>" of the TLS listener.
    QString tlsUrl() const;
    // The broker's self-signed certificate, the authority a client must trust.
    QString caFile() const { return filePath(QStringLiteral("broker.crt")); }
    // A path in the broker's temporary folder, for files that settings name.
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    // The CPU time the broker has used so far (user and system), in ms; -1 when unknown.
    double cpuMs() const;

private:
    QTemporaryDir m_dir;
    QStringList m_settings;
    int m_port = 0;
    int m_tlsPort = 0;
    QProcess m_process;
};

} // namespace kivo::test
