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

// A private certificate authority made for one test with openssl, in dir: ca.pem and the
// broker's server.pem and server.key it signed for 127.0.0.1 (as an IP address in the
// certificate, which is what a client checks), and other-ca.pem, a CA that signed nothing
// here.
inline bool makeTlsFiles(const std::filesystem::path& dir) {
    const QString d = QString::fromStdString(dir.string()) + "/";
    {
        std::ofstream ext(dir / "server.ext");
        ext << "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n";
    }
    const QStringList ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    const auto openssl = [](const QStringList& args) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start("openssl", args);
        return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit &&
               p.exitCode() == 0;
    };
    return openssl(QStringList{"req", "-x509"} + ec +
                   QStringList{"-keyout", d + "ca.key", "-out", d + "ca.pem", "-days", "2", "-subj",
                               "/CN=rd780 test CA"}) &&
           openssl(QStringList{"req", "-x509"} + ec +
                   QStringList{"-keyout", d + "other-ca.key", "-out", d + "other-ca.pem", "-days",
                               "2", "-subj", "/CN=rd780 other CA"}) &&
           openssl(QStringList{"req"} + ec +
                   QStringList{"-keyout", d + "server.key", "-out", d + "server.csr", "-subj",
                               "/CN=127.0.0.1"}) &&
           openssl({"x509", "-req", "-in", d + "server.csr", "-CA", d + "ca.pem", "-CAkey",
                    d + "ca.key", "-CAcreateserial", "-out", d + "server.pem", "-days", "2",
                    "-extfile", d + "server.ext"});
}

class Broker {
public:
    // users: "name:password" pairs; none allows anyone in. tls: the listener speaks TLS
    // with the certificate of makeTlsFiles(dir), which must have been made.
    explicit Broker(const std::filesystem::path& dir, const std::vector<std::string>& users = {},
                    bool tls = false)
        : dir_(dir), tls_(tls) {
        port_ = loopbackPort(0);
        std::ofstream conf(dir / "mosquitto.conf");
        conf << "listener " << port_ << " 127.0.0.1\n";
        if (tls)
            conf << "cafile " << (dir / "ca.pem").string() << "\ncertfile "
                 << (dir / "server.pem").string() << "\nkeyfile " << (dir / "server.key").string()
                 << "\n";
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
        return (tls_ ? "mqtts://" : "mqtt://") + (user.isEmpty() ? QString() : user + "@") +
               "127.0.0.1:" + QString::number(port_) + "/" + prefix;
    }
    // How mosquitto_sub and mosquitto_pub reach it.
    QStringList clientArguments() const {
        QStringList a{"-h", "127.0.0.1", "-p", QString::number(port_)};
        if (tls_) a << "--cafile" << QString::fromStdString((dir_ / "ca.pem").string());
        return a;
    }

private:
    std::filesystem::path dir_;
    bool tls_ = false;
    int port_ = 0;
    QProcess p_;
};

// Collects "topic payload" lines of a topic filter, with a session the broker keeps across
// its restarts (QoS 1), so nothing published while the subscriber reconnects is missed.
class Subscriber {
public:
    Subscriber(const Broker& broker, const QString& filter, const QString& id) {
        client_ = broker.clientArguments();
        p_.start("mosquitto_sub", client_ + QStringList{"-t", filter, "-t", "rd780-test/probe",
                                                        "-q", "1", "-c", "-i", id, "-v"});
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
                QProcess::execute("mosquitto_pub",
                                  client_ + QStringList{"-t", "rd780-test/probe", "-m", "probe"});
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
    QStringList client_;
    std::string buf_;
    std::vector<std::pair<std::string, std::string>> messages_;
};

} // namespace rd780::test
