#include "MosquittoBroker.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kivo {
namespace bench {

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A port nobody listens on right now: the kernel's pick for a socket bound to port 0.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    const sockaddr_in address = loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

} // namespace

MosquittoBroker::MosquittoBroker(const QString& directory)
    : m_directory(directory)
{ }

MosquittoBroker::~MosquittoBroker()
{
    stop();
}

bool MosquittoBroker::start()
{
    m_port = freePort();
    if (m_port == 0) {
        m_error = QStringLiteral("no free loopback port");
        return false;
    }
    // A mirror of 20,000 points subscribes to 20,000 retained values at once: the broker sends
    // as many as the panel's receive maximum (1000) allows and queues the rest, which the
    // default queue limit (1000 per client) would drop. max_inflight_messages is the broker's
    // own receive maximum towards publishers, raised from 20 to the clients' 1000.
    m_configuration = QStringLiteral("listener %1 127.0.0.1\n"
                                     "allow_anonymous true\n"
                                     "set_tcp_nodelay true\n"
                                     "persistence false\n"
                                     "max_queued_messages 50000\n"
                                     "max_inflight_messages 1000\n"
                                     "log_dest stderr\n"
                                     "log_type error\n"
                                     "log_type warning\n")
                          .arg(m_port);
    if (::geteuid() == 0)
        m_configuration += QStringLiteral("user root\n");
    const QString path = m_directory + QStringLiteral("/mosquitto.conf");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(m_configuration.toUtf8()) < 0) {
        m_error = QStringLiteral("cannot write ") + path;
        return false;
    }
    file.close();
    m_process.setStandardOutputFile(m_directory + QStringLiteral("/mosquitto.log"));
    m_process.setStandardErrorFile(m_directory + QStringLiteral("/mosquitto.log"));
    m_process.start(QStringLiteral("/usr/sbin/mosquitto"), { QStringLiteral("-c"), path });
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("cannot start /usr/sbin/mosquitto: ") + m_process.errorString();
        return false;
    }
    QElapsedTimer waited;
    waited.start();
    while (!accepts(m_port)) {
        if (waited.elapsed() > 10000 || m_process.state() != QProcess::Running) {
            m_error = QStringLiteral("mosquitto does not listen on port %1").arg(m_port);
            stop();
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

double MosquittoBroker::cpuMs() const
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(m_process.processId()));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // The fields after the command name, which ends with the last ')': utime and stime are the
    // 12th and 13th of them, in clock ticks.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const double ticks = fields.at(11).toDouble() + fields.at(12).toDouble();
    return ticks * 1000.0 / double(::sysconf(_SC_CLK_TCK));
}

void MosquittoBroker::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    const qint64 pid = m_process.processId();
    if (pid > 0)
        ::kill(static_cast<pid_t>(pid), SIGTERM);
    if (!m_process.waitForFinished(5000) && pid > 0) {
        ::kill(static_cast<pid_t>(pid), SIGKILL);
        m_process.waitForFinished(5000);
    }
}

} // namespace bench
} // namespace kivo
