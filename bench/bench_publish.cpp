// What publishing each row on a broker costs the logger: CPU per recorded row and the
// rows-per-second ceiling with frames handed over as fast as they are decoded, and the
// logger's CPU share at the simulated cable's own pace, each with MQTT off and on. Starts
// its own mosquitto on a free loopback port.
//
//   bench_publish [--rows N] [--seconds S]
#include "meter/core/FrameAssembler.h"
#include "meter/core/MeterSimulator.h"
#include "mqtt/MqttPublisher.h"
#include "tools/log/LogSession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTimer>

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u); // every thread of the process, the client's included
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool answers(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

std::unique_ptr<rd780::MqttPublisher> publisher(int port, std::string& error) {
    rd780::MqttSettings s;
    s.url.host = "127.0.0.1";
    s.url.port = port;
    s.url.prefix = "bench";
    s.drainMs = 60000;
    auto p = std::make_unique<rd780::MqttPublisher>(s);
    if (!p->start(error)) return nullptr;
    return p;
}

struct Result {
    long rows = 0;
    double wall = 0, cpu = 0;
    std::uint64_t published = 0;
};

// Frames handed to the session one after another, as fast as it takes them.
Result flatOut(const fs::path& dir, int rows, int port) {
    rd780::log::LogOptions o;
    o.table = (dir / (port ? "on.DB" : "off.DB")).string();
    std::error_code ec;
    fs::remove(o.table, ec);
    std::vector<std::string> frames;
    for (int i = 0; i < 1000; ++i) {
        rd780::MeterDisplay d;
        d.function = 4;
        d.prefix = 'k';
        char field[8];
        std::snprintf(field, sizeof field, "%d.%03d", i % 10, i % 1000);
        d.field = field;
        const auto bytes = rd780::MeterSimulator::encode(d);
        std::string hex;
        rd780::appendHex(hex, bytes.data(), bytes.size());
        frames.push_back(hex);
    }
    std::string error;
    std::shared_ptr<rd780::MqttPublisher> mqtt; // shared with the session
    if (port && !(mqtt = publisher(port, error))) {
        std::fprintf(stderr, "bench_publish: %s\n", error.c_str());
        std::exit(1);
    }
    Result r;
    const double cpu0 = cpuSeconds();
    const auto t0 = Clock::now();
    {
        rd780::log::LogSession session(o, {});
        if (mqtt) session.addOutput(mqtt);
        if (!session.openSinks(error)) {
            std::fprintf(stderr, "bench_publish: %s\n", error.c_str());
            std::exit(1);
        }
        for (int i = 0; i < rows; ++i)
            session.frame(frames[std::size_t(i) % frames.size()]);
        // Publishing done too: finish waits for the broker's last acknowledgement.
        session.finish(error);
        r.rows = long(session.rows());
    }
    r.wall = std::chrono::duration<double>(Clock::now() - t0).count();
    r.cpu = cpuSeconds() - cpu0;
    r.published = mqtt ? mqtt->published() : 0;
    return r;
}

// The simulated cable at its own pace, for a while.
Result paced(const fs::path& dir, double seconds, int port) {
    rd780::log::LogOptions o;
    o.simulated = true;
    o.table = (dir / (port ? "paced-on.DB" : "paced-off.DB")).string();
    std::error_code ec;
    fs::remove(o.table, ec);
    std::string error;
    std::shared_ptr<rd780::MqttPublisher> mqtt; // shared with the session
    if (port && !(mqtt = publisher(port, error))) std::exit(1);
    Result r;
    const double cpu0 = cpuSeconds();
    const auto t0 = Clock::now();
    {
        rd780::log::LogSession session(o, {});
        if (mqtt) session.addOutput(mqtt);
        if (!session.start(error)) {
            std::fprintf(stderr, "bench_publish: %s\n", error.c_str());
            std::exit(1);
        }
        QTimer::singleShot(int(seconds * 1000), [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
        session.finish(error);
        r.rows = long(session.rows());
    }
    r.wall = std::chrono::duration<double>(Clock::now() - t0).count();
    r.cpu = cpuSeconds() - cpu0;
    r.published = mqtt ? mqtt->published() : 0;
    return r;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int rows = 20000;
    double seconds = 30;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rows")) rows = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
    }
    const fs::path dir =
        fs::temp_directory_path() / ("rd780-bench-publish-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const int port = freePort();
    std::ofstream(dir / "mosquitto.conf")
        << "listener " << port << " 127.0.0.1\nallow_anonymous true\n";
    QProcess broker;
    broker.start("mosquitto", {"-c", QString::fromStdString((dir / "mosquitto.conf").string())});
    QDeadlineTimer up(10000);
    while (!answers(port) && !up.hasExpired())
        broker.waitForFinished(50);
    if (!answers(port)) {
        std::fprintf(stderr, "bench_publish: mosquitto did not start\n");
        return 1;
    }
    std::printf("flat out, %d frames:\n", rows);
    for (int on : {0, 1}) {
        const Result r = flatOut(dir, rows, on ? port : 0);
        std::printf("  MQTT %-3s %7.0f rows/s  %6.1f us CPU per row  (%ld rows, %llu published)\n",
                    on ? "on" : "off", double(r.rows) / r.wall, r.cpu * 1e6 / double(r.rows),
                    r.rows, static_cast<unsigned long long>(r.published));
    }
    std::printf("simulated cable at its pace, %.0f s:\n", seconds);
    for (int on : {0, 1}) {
        const Result r = paced(dir, seconds, on ? port : 0);
        std::printf(
            "  MQTT %-3s %5.2f rows/s  CPU %.3f %%  %.1f us CPU per row  (%llu published)\n",
            on ? "on" : "off", double(r.rows) / r.wall, 100 * r.cpu / r.wall,
            r.cpu * 1e6 / double(r.rows), static_cast<unsigned long long>(r.published));
    }
    broker.terminate();
    broker.waitForFinished(5000);
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
