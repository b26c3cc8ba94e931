// The sample boiler published from a process of its own, for tests that kill it: publishes as
// device argv[2] over the broker at argv[1] with a keep-alive of 5 s, confirms every write, and
// prints "online" each time the broker has accepted it.

#include "RemoteFixtures.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s BROKER-URL DEVICE\n", argv[0]);
        return 2;
    }
    kivo::test::BoilerDevice device(
        QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
    device.connection.setKeepAlive(5);
    QObject::connect(&device.connection, &kivo::MqttConnection::connected, [] {
        std::puts("online");
        std::fflush(stdout);
    });
    if (!device.publisher.start())
        return 1;
    return app.exec();
}
