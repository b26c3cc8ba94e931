#include "MosquittoBroker.h"

#include <QFile>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kivo::test {

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A port of 127.0.0.1 that no one listens on now: the one the system picks for port 0.
int freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof(address);
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0
        && getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

bool accepts(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = loopback(port);
    const bool ok = fd >= 0
        && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    if (fd >= 0)
        close(fd);
    return ok;
}

// Runs program quietly; its output becomes a warning when it fails.
bool run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
    if (!ok)
        qWarning("%s failed: %s", qPrintable(program), process.readAll().constData());
    return ok;
}

} // namespace

MosquittoBroker::MosquittoBroker(const QStringList& settings, bool tls)
    : m_settings(settings)
    , m_port(freePort())
    , m_tlsPort(tls ? freePort() : 0)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

MosquittoBroker::~MosquittoBroker()
{
    kill();
}

QString MosquittoBroker::url() const
{
    return QStringLiteral("mqtt://127.0.0.1:%1").arg(m_port);
}

QString MosquittoBroker::tlsUrl() const
{
    return QStringLiteral("mqtts://127.0.0.1:%1").arg(m_tlsPort);
}

QString MosquittoBroker::socketPath() const
{
    return m_dir.filePath(QStringLiteral("broker.sock"));
}

bool MosquittoBroker::start()
{
    // As root, mosquitto drops to the user "mosquitto" unless told to stay root.
    QStringList lines { QStringLiteral("listener %1 127.0.0.1").arg(m_port),
        QStringLiteral("listener 0 ") + socketPath(), QStringLiteral("set_tcp_nodelay true"),
        QStringLiteral("persistence false") };
    if (m_tlsPort != 0) {
        const QString key = filePath(QStringLiteral("broker.key"));
        if (!QFile::exists(caFile())
            && !run("openssl",
                { "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                    "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", caFile() }))
            return false;
        lines << QStringLiteral("listener %1 127.0.0.1").arg(m_tlsPort)
              << QStringLiteral("certfile ") + caFile() << QStringLiteral("keyfile ") + key;
    }
    if (getuid() == 0)
        lines << QStringLiteral("user root");
    for (QString line : qAsConst(m_settings))
        lines << line.replace(QLatin1String("{dir}"), m_dir.path());
    const QString config = m_dir.filePath(QStringLiteral("mosquitto.conf"));
    QFile file(config);
    if (!m_dir.isValid() || m_port == 0 || !file.open(QIODevice::WriteOnly)
        || file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) < 0) {
        qWarning("cannot write the broker's configuration");
        return false;
    }
    file.close();
    m_process.start(QStringLiteral("/usr/sbin/mosquitto"), { QStringLiteral("-c"), config });
    if (!m_process.waitForStarted(5000)) {
        qWarning("cannot start /usr/sbin/mosquitto: %s", qPrintable(m_process.errorString()));
        return false;
    }
    const bool up = QTest::qWaitFor([this] { return !isRunning() || accepts(m_port); }, 10000);
    if (!up || !isRunning()) {
        qWarning("mosquitto does not accept connections: %s", m_process.readAll().constData());
        kill();
        return false;
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
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

void MosquittoBroker::stop()
{
    if (!isRunning())
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        kill();
}

void MosquittoBroker::kill()
{
    if (!isRunning())
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

} // namespace kivo::test
