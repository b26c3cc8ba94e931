#pragma once

#include <QProcess>
#include <QString>

namespace kivo {
namespace bench {

/// A private mosquitto broker on a free loopback port, with a generated configuration, for the
/// remote benchmarks. Started by start(), stopped by its process id in stop() or at destruction.
class MosquittoBroker
{
public:
    /// A broker whose configuration and log go into directory (which must exist).
    explicit MosquittoBroker(const QString& directory);
    ~MosquittoBroker();

    /// Writes the configuration, starts /usr/sbin/mosquitto and waits until it takes
    /// connections; false, with the reason in errorString, when it does not within 10 s.
    bool start();
    /// Ends the broker (SIGTERM to its process id, SIGKILL when it lingers).
    void stop();
    /// The port it listens on, on 127.0.0.1; 0 before start.
    int port() const { return m_port; }
    /// Why start failed.
    QString errorString() const { return m_error; }
    /// The CPU time the broker has used so far (user and system), in ms; -1 when unknown.
    double cpuMs() const;
    /// The configuration text written by start.
    QString configuration() const { return m_configuration; }

private:
    QString m_directory;
    QProcess m_process;
    int m_port = 0;
    QString m_error;
    QString m_configuration;
};

} // namespace bench
} // namespace kivo
