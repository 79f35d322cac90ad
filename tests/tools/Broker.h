#pragma once
// A real MQTT broker for the tests: mosquitto on a free loopback port with a throw-away
// configuration, and a subscriber (mosquitto_sub) that collects what arrives.
#include "TestSupport.h"

#include <QProcess>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace rd780::test {

// A loopback TCP port: free now (port 0 lets the system pick), or answering (to == true).
inline int loopbackPort(int port, bool* answers = nullptr) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (answers) {
        *answers = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    } else {
        socklen_t len = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ::close(fd);
    return port;
}

class Broker {
public:
    // users: "name:password" pairs; none allows anyone in.
    explicit Broker(const std::filesystem::path& dir, const std::vector<std::string>& users = {})
        : dir_(dir) {
        port_ = loopbackPort(0);
        std::ofstream conf(dir / "mosquitto.conf");
        conf << "listener " << port_ << " 127.0.0.1\n";
        // Started by root, the broker would otherwise become another user, who may not
        // write its folder.
        if (const passwd* pw = ::getpwuid(::getuid())) conf << "user " << pw->pw_name << "\n";
        // Sessions and queued messages outlive a restart, as on a kept broker.
        conf << "persistence true\npersistence_location " << dir.string() << "/\n";
        if (users.empty()) {
            conf << "allow_anonymous true\n";
        } else {
            const auto pw = dir / "passwords";
            std::ofstream(pw).close();
            for (const auto& u : users) {
                const auto colon = u.find(':');
                QProcess::execute("mosquitto_passwd",
                                  {"-b", QString::fromStdString(pw.string()),
                                   QString::fromStdString(u.substr(0, colon)),
                                   QString::fromStdString(u.substr(colon + 1))});
            }
            conf << "allow_anonymous false\npassword_file " << pw.string() << "\n";
        }
    }
    ~Broker() { stop(); }

    // Starts the broker and waits until it takes connections.
    bool start() {
        p_.setProgram("mosquitto");
        p_.setArguments({"-c", QString::fromStdString((dir_ / "mosquitto.conf").string())});
        p_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p_.start();
        if (!p_.waitForStarted(10000)) return false;
        return waitUntil(
            [&] {
                bool answers = false;
                loopbackPort(port_, &answers);
                return answers;
            },
            20000);
    }
    void stop() {
        if (p_.state() == QProcess::NotRunning) return;
        p_.terminate();
        if (!p_.waitForFinished(10000)) p_.kill();
        p_.waitForFinished(5000);
    }
    int port() const { return port_; }
    QString url(const QString& prefix, const QString& user = {}) const {
        return "mqtt://" + (user.isEmpty() ? QString() : user + "@") +
               "127.0.0.1:" + QString::number(port_) + "/" + prefix;
    }

private:
    std::filesystem::path dir_;
    int port_ = 0;
    QProcess p_;
};

// Collects "topic payload" lines of a topic filter, with a session the broker keeps across
// its restarts (QoS 1), so nothing published while the subscriber reconnects is missed.
class Subscriber {
public:
    Subscriber(const Broker& broker, const QString& filter, const QString& id) {
        p_.start("mosquitto_sub",
                 {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-t", filter, "-t",
                  "rd780-test/probe", "-q", "1", "-c", "-i", id, "-v"});
        port_ = broker.port();
    }
    ~Subscriber() {
        p_.terminate();
        if (!p_.waitForFinished(5000)) p_.kill();
        p_.waitForFinished(5000);
    }
    // Waits until the subscription is in place: a probe published now comes back.
    bool ready() {
        return waitUntil(
            [&] {
                QProcess::execute("mosquitto_pub", {"-h", "127.0.0.1", "-p", QString::number(port_),
                                                    "-t", "rd780-test/probe", "-m", "probe"});
                return waitUntil([&] { return count("rd780-test/probe") > 0; }, 500);
            },
            20000);
    }
    // Every message so far, in arrival order: (topic, payload).
    const std::vector<std::pair<std::string, std::string>>& messages() {
        buf_ += p_.readAllStandardOutput().toStdString();
        std::size_t nl;
        while ((nl = buf_.find('\n')) != std::string::npos) {
            const std::string line = buf_.substr(0, nl);
            buf_.erase(0, nl + 1);
            const auto space = line.find(' ');
            messages_.emplace_back(line.substr(0, space),
                                   space == std::string::npos ? "" : line.substr(space + 1));
        }
        return messages_;
    }
    std::size_t count(const std::string& topic) {
        std::size_t n = 0;
        for (const auto& m : messages())
            n += m.first == topic;
        return n;
    }

private:
    QProcess p_;
    int port_ = 0;
    std::string buf_;
    std::vector<std::pair<std::string, std::string>> messages_;
};

} // namespace rd780::test
