// The logger's outputs beyond the table: readings on a real MQTT broker, JSON lines, and
// captures of the link played back.
#include "Broker.h"
#include "TestSupport.h"
#include "record/ReadingTable.h"
#include "record/paradox/TableTestSupport.h"
#include "tools/log/LogOptions.h"

#include "meter/core/MeterSimulator.h"
#include "meter/core/UnitSymbols.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <set>

namespace rd780 {
namespace {

using test::ScratchDir;

struct Outcome {
    int exitCode = -1;
    std::string err, out;
};

class LoggerProcess {
public:
    LoggerProcess(const QStringList& args, const std::filesystem::path& dir,
                  const QString& password = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("RD780_MQTT_PASSWORD");
        if (!password.isEmpty()) env.insert("RD780_MQTT_PASSWORD", password);
        p_.setProcessEnvironment(env);
        p_.setWorkingDirectory(QString::fromStdString(dir.string()));
        p_.start(RD780_LOG_BINARY, args);
        EXPECT_TRUE(p_.waitForStarted(10000));
    }
    Outcome wait(int ms = 90000) {
        if (!p_.waitForFinished(ms)) {
            p_.kill();
            p_.waitForFinished(5000);
        }
        return {p_.exitStatus() == QProcess::NormalExit ? p_.exitCode() : -1,
                p_.readAllStandardError().toStdString(), p_.readAllStandardOutput().toStdString()};
    }

private:
    QProcess p_;
};

Outcome runLogger(const QStringList& args, const std::filesystem::path& dir,
                  const QString& password = {}) {
    return LoggerProcess(args, dir, password).wait();
}

// The table's rows as No, DC/AC, Value, Unit, AUTO (the time of day differs between runs).
std::vector<std::vector<std::string>> tableRows(const std::filesystem::path& db) {
    ReadingTable table;
    table.open(db);
    std::vector<std::vector<std::string>> rows;
    for (int64_t i = 0; i < table.rowCount(); ++i) {
        auto r = table.displayRow(static_cast<uint32_t>(i), true); // No Time DC/AC Value Unit AUTO
        r.erase(r.begin() + 1);
        rows.push_back(r);
    }
    return rows;
}

// The file's lines; once the writer is done (whole), none may be left unfinished.
std::vector<std::string> fileLines(const std::filesystem::path& p, bool whole = true) {
    std::vector<std::string> out;
    std::string text = test::readFile(p), line;
    for (char c : text) {
        if (c == '\n') {
            out.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (whole) {
        EXPECT_TRUE(line.empty()) << "an unfinished line: " << line;
    }
    return out;
}

std::vector<std::string> payloads(test::Subscriber& sub, const std::string& topic) {
    std::vector<std::string> out;
    for (const auto& [t, p] : sub.messages())
        if (t == topic) out.push_back(p);
    return out;
}

// Each message is the JSON object of one table row, in the table's order.
void expectMessagesAreTheRows(const std::vector<std::string>& messages,
                              const std::vector<std::vector<std::string>>& rows) {
    ASSERT_EQ(messages.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(messages[i]);
        QJsonParseError error{};
        const QJsonObject o =
            QJsonDocument::fromJson(QByteArray::fromStdString(messages[i]), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError);
        EXPECT_EQ(o.size(), 8);
        EXPECT_TRUE(QDateTime::fromString(o["timestamp"].toString(), Qt::ISODateWithMs).isValid());
        EXPECT_EQ(o["no"].toInteger(-1), std::stoll(rows[i][0]));
        EXPECT_EQ(o["coupling"].toString().toStdString(), rows[i][1]);
        EXPECT_EQ(o["value"].toString().toStdString(), rows[i][2]);
        EXPECT_EQ(o["unit"].toString().toStdString(), readingUnitText(rows[i][3])); // " V" is V
        EXPECT_EQ(o["auto"].toBool(), !rows[i][4].empty());
        EXPECT_TRUE(o["auto"].isBool());
        EXPECT_TRUE(o["si_value"].isDouble() || o["si_value"].isNull());
        EXPECT_EQ(o["si_value"].isNull(), rows[i][2].find('L') != std::string::npos);
        EXPECT_TRUE(o["si_unit"].isString());
    }
}

TEST(Publish, EveryRecordedRowIsOneReadingMessageAndOneJsonLine) {
    ScratchDir dir;
    test::Broker broker(dir.path());
    ASSERT_TRUE(broker.start());
    test::Subscriber sub(broker, "bench1/#", "every-row");
    test::Subscriber discovery(broker, "homeassistant/#", "discovery");
    ASSERT_TRUE(sub.ready());
    ASSERT_TRUE(discovery.ready());
    const Outcome r = runLogger({"--simulate-meter", "--duration", "8", "--table", "a.DB", "--json",
                                 "a.jsonl", "--mqtt", broker.url("bench1"), "--mqtt-discovery"},
                                dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto rows = tableRows(dir / "a.DB");
    EXPECT_GE(rows.size(), 20u);
    ASSERT_TRUE(test::waitUntil([&] { return sub.count("bench1/reading") >= rows.size(); }, 20000));
    // The last word on the status topic is offline; online came first.
    ASSERT_TRUE(test::waitUntil([&] { return sub.count("bench1/status") >= 2; }, 20000));
    const auto reading = payloads(sub, "bench1/reading");
    expectMessagesAreTheRows(reading, rows);
    EXPECT_EQ(payloads(sub, "bench1/status").front(), "online");
    EXPECT_EQ(payloads(sub, "bench1/status").back(), "offline");
    // The sensor was announced with the unit of the first reading.
    const std::string configTopic = "homeassistant/sensor/rd780_bench1/reading/config";
    ASSERT_TRUE(test::waitUntil([&] { return discovery.count(configTopic) >= 1; }, 20000));
    const auto json = [](const std::string& text) {
        return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
    };
    const QJsonObject config = json(payloads(discovery, configTopic).front());
    EXPECT_EQ(config["state_topic"].toString(), "bench1/reading");
    EXPECT_EQ(config["unit_of_measurement"].toString(),
              json(reading.front())["si_unit"].toString());
    // The JSON lines are the same objects.
    EXPECT_EQ(fileLines(dir / "a.jsonl"), reading);
    EXPECT_NE(
        r.err.find(" rows, 0 errors, " + std::to_string(rows.size()) + " published, 0 dropped"),
        std::string::npos)
        << r.err;
}

TEST(Publish, ReadingsRecordedWhileTheBrokerIsAwayArriveInOrderOnceItIsBack) {
    ScratchDir dir;
    test::Broker broker(dir.path());
    ASSERT_TRUE(broker.start());
    test::Subscriber sub(broker, "bench2/reading", "outage");
    ASSERT_TRUE(sub.ready());
    LoggerProcess logger({"--simulate-meter", "--duration", "16", "--table", "o.DB", "--json",
                          "o.jsonl", "--mqtt", broker.url("bench2")},
                         dir.path());
    ASSERT_TRUE(test::waitUntil([&] { return sub.count("bench2/reading") >= 20; }, 30000));
    broker.stop();
    // The broker stays away while about five seconds of readings are recorded.
    const std::size_t before = fileLines(dir / "o.jsonl", false).size();
    ASSERT_TRUE(test::waitUntil(
        [&] { return fileLines(dir / "o.jsonl", false).size() >= before + 30; }, 30000));
    ASSERT_TRUE(broker.start());
    const Outcome r = logger.wait();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto rows = tableRows(dir / "o.DB");
    // QoS 1 is at least once: a message the old broker passed on but did not acknowledge
    // before it stopped is sent again. Each row carries its own number, so a payload seen
    // before is such a redelivery; what remains must be the rows, in order.
    std::vector<std::string> firsts;
    const auto distinct = [&] {
        firsts.clear();
        std::set<std::string> seen;
        for (auto& p : payloads(sub, "bench2/reading"))
            if (seen.insert(p).second) firsts.push_back(std::move(p));
        return firsts.size();
    };
    ASSERT_TRUE(test::waitUntil([&] { return distinct() >= rows.size(); }, 30000))
        << firsts.size() << " of " << rows.size() << "\n"
        << r.err;
    expectMessagesAreTheRows(firsts, rows);
    // Reading went on at its pace through the outage: no gap between rows.
    const auto lines = fileLines(dir / "o.jsonl");
    ASSERT_EQ(lines.size(), rows.size());
    QDateTime last;
    for (const auto& line : lines) {
        const QDateTime t =
            QDateTime::fromString(QJsonDocument::fromJson(QByteArray::fromStdString(line))
                                      .object()["timestamp"]
                                      .toString(),
                                  Qt::ISODateWithMs);
        if (last.isValid()) {
            EXPECT_LT(last.msecsTo(t), 1000) << line;
        }
        last = t;
    }
    EXPECT_NE(r.err.find(std::to_string(rows.size()) + " published, 0 dropped"), std::string::npos)
        << r.err;
}

TEST(Publish, ARefusedLoginOrABadUrlEndsTheRunAtStartWithTheReason) {
    ScratchDir dir;
    test::Broker broker(dir.path(), {"bench:secret"});
    ASSERT_TRUE(broker.start());
    Outcome r = runLogger({"--simulate-meter", "--limit", "2", "--mqtt", broker.url("b", "bench")},
                          dir.path(), "wrong");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("refused"), std::string::npos) << r.err;
    r = runLogger({"--simulate-meter", "--limit", "2", "--mqtt", broker.url("b")}, dir.path());
    EXPECT_EQ(r.exitCode, 1) << "anonymous";
    r = runLogger({"--simulate-meter", "--limit", "2", "--mqtt", broker.url("b", "bench")},
                  dir.path(), "secret");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("2 published"), std::string::npos) << r.err;
    for (const QString url : {"mqtt://127.0.0.1:1883", "http://127.0.0.1/b", "mqtt://h:99999/b",
                              "mqtt://no-such-host.invalid/b"}) {
        SCOPED_TRACE(url.toStdString());
        r = runLogger({"--simulate-meter", "--limit", "2", "--mqtt", url}, dir.path());
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("MQTT"), std::string::npos) << r.err;
    }
}

// TLS with a private CA made for the test: trusted through --mqtt-cafile, the readings
// arrive; trusted by the system's store alone, or through another CA, the broker's
// certificate is refused and the run ends at start with the reason.
TEST(Publish, OverTlsThePrivateCaIsTrustedOnlyWhenGiven) {
    ScratchDir dir;
    ASSERT_TRUE(test::makeTlsFiles(dir.path()));
    test::Broker broker(dir.path(), {}, true);
    ASSERT_TRUE(broker.start());
    test::Subscriber sub(broker, "tls1/reading", "tls");
    ASSERT_TRUE(sub.ready());
    const QString ca = QString::fromStdString((dir / "ca.pem").string());
    Outcome r = runLogger({"--simulate-meter", "--limit", "5", "--table", "t.DB", "--mqtt",
                           broker.url("tls1"), "--mqtt-cafile", ca},
                          dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto rows = tableRows(dir / "t.DB");
    EXPECT_EQ(rows.size(), 5u);
    ASSERT_TRUE(test::waitUntil([&] { return sub.count("tls1/reading") >= rows.size(); }, 20000));
    expectMessagesAreTheRows(payloads(sub, "tls1/reading"), rows);
    EXPECT_NE(r.err.find("5 published, 0 dropped"), std::string::npos) << r.err;

    const struct {
        const char* name;
        QStringList cafile;
    } untrusted[] = {
        {"the system's store", {}},
        {"another CA", {"--mqtt-cafile", QString::fromStdString((dir / "other-ca.pem").string())}}};
    for (const auto& u : untrusted) {
        SCOPED_TRACE(u.name);
        r = runLogger(QStringList{"--simulate-meter", "--limit", "5", "--table", "u.DB", "--mqtt",
                                  broker.url("tls1")} +
                          u.cafile,
                      dir.path());
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find("certificate verify failed"), std::string::npos) << r.err;
    }
    EXPECT_EQ(sub.count("tls1/reading"), rows.size()) << "nothing went out untrusted";
}

TEST(PublishOptions, NewOptionsLandInTheirFieldsAndConflictsAreRefused) {
    auto r = log::parseArguments({"--replay", "c.cap", "--speed", "2.5", "--json", "-", "--mqtt",
                                  "mqtts://u@h/p", "--mqtt-cafile", "ca.pem", "--mqtt-discovery",
                                  "--capture", "again.cap"});
    ASSERT_TRUE(r.options) << r.error;
    EXPECT_EQ(r.options->link, LinkKind::None);
    EXPECT_EQ(r.options->replay, "c.cap");
    EXPECT_EQ(r.options->speed, 2.5);
    EXPECT_EQ(r.options->json, "-");
    EXPECT_EQ(r.options->mqttUrl, "mqtts://u@h/p");
    EXPECT_EQ(r.options->mqttCaFile, "ca.pem");
    EXPECT_TRUE(r.options->mqttDiscovery);
    EXPECT_EQ(r.options->capture, "again.cap");
    const std::vector<std::vector<std::string>> bad = {
        {"--speed", "2", "--csv", "x.csv"},                      // without a replay
        {"--replay", "c.cap", "--speed", "0", "--csv", "x.csv"}, // no speed at all
        {"--replay", "c.cap", "--usb", "--csv", "x.csv"},        // two links
        {"--mqtt-discovery", "--csv", "x.csv"},                  // without --mqtt
        {"--json", "-", "--csv", "-"},                           // one standard output
        {"--replay", "c.cap", "--capture", "c.cap"},             // its own capture
        {"--simulate-meter", "--json", "t.DB", "--table", "t.DB"},
    };
    for (const auto& args : bad) {
        SCOPED_TRACE(args.front() + " " + args[1]);
        EXPECT_FALSE(log::parseArguments(args).options);
    }
}

// A serial capture made by hand: two frames cut at odd places, noise between them.
void writeSerialCapture(const std::filesystem::path& p) {
    std::string text = "rd780 capture 1 link=serial source=\"/dev/ttyUSB0\"\n";
    std::vector<uint8_t> stream = {0x00, 0x13};
    for (const char* field : {"1.234", "5.678"}) {
        MeterDisplay d;
        d.function = 4;
        d.prefix = 'k';
        d.field = field;
        const auto f = MeterSimulator::encode(d);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    std::int64_t us = 0;
    for (std::size_t at = 0; at < stream.size(); at += 7, us += 29000) {
        text += std::to_string(us) + ' ';
        for (std::size_t i = at; i < std::min(stream.size(), at + 7); ++i) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", stream[i]);
            text += hex;
        }
        text += '\n';
    }
    test::writeFile(p, text);
}

TEST(Capture, AReplayedCaptureGivesTheSameRowsAsTheLiveLink) {
    ScratchDir dir;
    Outcome r = runLogger(
        {"--simulate-meter", "--duration", "5", "--table", "live.DB", "--capture", "cable.cap"},
        dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto live = tableRows(dir / "live.DB");
    ASSERT_GE(live.size(), 15u);
    EXPECT_EQ(fileLines(dir / "cable.cap").front().rfind("rd780 capture 1 link=usb-hid ", 0), 0u);

    r = runLogger({"--replay", "cable.cap", "--speed", "10", "--table", "again.DB"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(tableRows(dir / "again.DB"), live);

    writeSerialCapture(dir / "serial.cap");
    r = runLogger({"--replay", "serial.cap", "--json", "-"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("2 frames, 2 rows"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("\"no\":1,\"value\":\"1.234\",\"unit\":\"k\u03A9\""), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"no\":2,\"value\":\"5.678\""), std::string::npos) << r.out;

    test::writeFile(dir / "bad.cap", "rd780 capture 1 link=serial\n12 5A0\n");
    r = runLogger({"--replay", "bad.cap", "--json", "-"}, dir.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("line 2"), std::string::npos) << r.err;
}

} // namespace
} // namespace rd780
