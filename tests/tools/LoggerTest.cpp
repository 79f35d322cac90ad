#include "TestSupport.h"
#include "link/hid/FakeSysfs.h"
#include "link/serial/PtyPair.h"
#include "meter/core/FrameAssembler.h"
#include "meter/core/MeterSimulator.h"
#include "record/CsvExport.h"
#include "record/ReadingTable.h"
#include "record/ReadingValue.h"
#include "record/paradox/TableTestSupport.h"
#include "tools/log/LogOptions.h"
#include "tools/log/LogSession.h"

#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace rd780 {
namespace {

using log::parseArguments;
using test::ScratchDir;

// ---- Options, in-process ----

TEST(LogOptions, EachOptionLandsInItsField) {
    auto r = parseArguments({"--simulate-meter", "--table", "t.DB", "--csv", "-", "--duration",
                             "2.5", "--limit", "40", "--interval", "3", "--repeat"});
    ASSERT_TRUE(r.options) << r.error;
    EXPECT_EQ(r.options->link, LinkKind::Usb);
    EXPECT_TRUE(r.options->simulated);
    EXPECT_EQ(r.options->table, "t.DB");
    EXPECT_EQ(r.options->csv, "-");
    EXPECT_EQ(r.options->durationSeconds, 2.5);
    EXPECT_EQ(r.options->limit, 40);
    EXPECT_EQ(r.options->intervalSeconds, 3);
    EXPECT_TRUE(r.options->skipRepeats);

    r = parseArguments({"--serial-port", "/dev/ttyUSB0", "--csv", "s.csv"});
    ASSERT_TRUE(r.options);
    EXPECT_EQ(r.options->link, LinkKind::Serial);
    EXPECT_FALSE(r.options->simulated);
    EXPECT_EQ(r.options->serialDevice, "/dev/ttyUSB0");
    EXPECT_FALSE(r.options->skipRepeats);
    EXPECT_EQ(r.options->durationSeconds, 0);

    r = parseArguments({"--usb", "--device", "/dev/hidraw3", "--table", "u.DB"});
    ASSERT_TRUE(r.options);
    EXPECT_EQ(r.options->link, LinkKind::Usb);
    EXPECT_FALSE(r.options->simulated);
    EXPECT_EQ(r.options->usbDevice, "/dev/hidraw3");
    r = parseArguments({"--csv", "-"});
    ASSERT_TRUE(r.options);
    EXPECT_EQ(r.options->link, LinkKind::Usb);
}

TEST(LogOptions, BadArgumentsAreRefusedWithAReason) {
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},
        {"--table"},
        {"--csv"},
        {"--serial-port"},
        {"--duration", "-1"},
        {"--duration", "0"},
        {"--duration", "abc"},
        {"--duration", "5s"},
        {"--limit", "0"},
        {"--limit", "-3"},
        {"--limit", "99999999999"},
        {"--interval", "1.5"},
        {"--interval", "0"},
        {"--simulate-meter", "--usb"},
        {"--simulate-meter", "--serial-port", "/dev/ttyS0"},
        {"--simulate-meter", "--device", "/dev/hidraw0"},
        {"--table", "same", "--csv", "same"},
        {"extra"},
    };
    for (const auto& wrong : bad) {
        // An output named first, so each is refused for its own fault.
        std::vector<std::string> args = {"--csv", "-"};
        args.insert(args.end(), wrong.begin(), wrong.end());
        std::string joined;
        for (const auto& a : args)
            joined += a + " ";
        SCOPED_TRACE(joined);
        const auto r = parseArguments(args);
        EXPECT_FALSE(r.options);
        EXPECT_FALSE(r.error.empty());
    }
    const auto r = parseArguments({"--simulate-meter", "--duration", "1"});
    EXPECT_FALSE(r.options);
    EXPECT_NE(r.error.find("nothing to record into"), std::string::npos) << r.error;
}

// ---- Whole runs of the program ----

struct Outcome {
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    std::string out, err;
};

QProcessEnvironment headless() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    return env;
}

class Logger {
public:
    // childSetup runs in the child before the program starts (umask, limits, descriptors).
    Logger(const QStringList& args, const QString& dir,
           const std::function<void()>& childSetup = {}) {
        p_.setProcessEnvironment(headless());
        p_.setWorkingDirectory(dir);
        if (childSetup) p_.setChildProcessModifier(childSetup);
        p_.start(RD780_LOG_BINARY, args);
        started_ = p_.waitForStarted(10000);
    }
    bool started() const { return started_; }
    void signal(int sig) { ::kill(static_cast<pid_t>(p_.processId()), sig); }
    // True while the program's main thread waits to write into a full pipe.
    bool blockedOnPipe() const {
        return test::readFile("/proc/" + std::to_string(p_.processId()) + "/wchan")
                   .find("pipe_write") != std::string::npos;
    }
    Outcome wait(int ms = 60000) {
        Outcome r;
        if (!p_.waitForFinished(ms)) {
            p_.kill();
            p_.waitForFinished(5000);
        }
        r.exitCode = p_.exitCode();
        r.status = p_.exitStatus();
        r.out = p_.readAllStandardOutput().toStdString();
        r.err = p_.readAllStandardError().toStdString();
        return r;
    }

private:
    QProcess p_;
    bool started_ = false;
};

Outcome runLogger(const QStringList& args, const QString& dir = QDir::tempPath(),
                  const std::function<void()>& childSetup = {}) {
    Logger l(args, dir, childSetup);
    EXPECT_TRUE(l.started());
    return l.wait();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            out.push_back(text.substr(at)); // an unfinished line
            break;
        }
        out.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return out;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out(1);
    for (char c : line) {
        if (c == ',')
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

// The one summary line, and the rows it counts.
long summaryRows(const std::string& err) {
    std::smatch m;
    static const std::regex line(
        "rd780-log: [0-9]+ frames?, ([0-9]+) rows?, [0-9]+ errors?(, [^\n]+ without a frame)?\n");
    return std::regex_search(err, m, line) ? std::stol(m[1]) : -1;
}

// Checks that the table and the CSV hold the same rows in the same order; returns the count.
// The table's first row is the CSV's line firstLine (0 being the header).
std::size_t expectSameRows(const std::filesystem::path& db, const std::filesystem::path& csv,
                           std::size_t firstLine = 1) {
    ReadingTable table;
    table.open(db);
    const auto csvLines = lines(test::readFile(csv));
    EXPECT_GE(csvLines.size(), 1u);
    if (csvLines.empty()) return 0;
    EXPECT_EQ(csvLines[0], "Timestamp,No,Value,Unit,Coupling,Auto,SIValue,SIUnit");
    const std::size_t n = static_cast<std::size_t>(table.rowCount());
    EXPECT_EQ(csvLines.size(), n + firstLine);
    for (std::size_t i = 0; i < n && i + firstLine < csvLines.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i) + ": " + csvLines[i + firstLine]);
        const auto row =
            table.displayRow(static_cast<uint32_t>(i), true); // No Time DC/AC Value Unit AUTO
        const auto f = fields(csvLines[i + firstLine]);
        EXPECT_EQ(f.size(), 8u);
        if (f.size() != 8) continue;
        EXPECT_EQ(f[1], row[0]);
        // Same time of day: the timestamp is "YYYY-MM-DDTHH:MM:SS.mmm+hh:mm".
        EXPECT_EQ(f[0].size(), 29u);
        EXPECT_EQ(f[0].substr(10, 1), "T");
        EXPECT_EQ(f[0].substr(11, 8), row[1]);
        EXPECT_EQ(f[4], row[2]);
        EXPECT_EQ(f[2], row[3]);
        EXPECT_EQ(f[5], row[5]);
        // The stored unit codes ("k*"), not the shown text, give the base unit.
        const auto stored = table.table().readRow(static_cast<uint32_t>(i));
        const auto* unit =
            std::get_if<std::string>(&stored[size_t(table.table().fieldIndex("Unit"))]);
        EXPECT_EQ(f[6], siValueText(row[3], unit ? *unit : std::string()));
    }
    return n;
}

std::vector<uint8_t> frameBytes(const char* field) {
    MeterDisplay d;
    d.function = 4;
    d.prefix = 'k';
    d.field = field;
    return MeterSimulator::encode(d);
}

std::string frameOf(const char* field) {
    const auto bytes = frameBytes(field);
    std::string hex;
    appendHex(hex, bytes.data(), bytes.size());
    return hex;
}

TEST(LogSession, RepeatDropsRepeatedReadingsButUsesUpTheirNumbers) {
    for (bool skip : {true, false}) {
        SCOPED_TRACE(skip);
        ScratchDir dir;
        log::LogOptions o;
        o.csv = (dir / "r.csv").string();
        o.table = (dir / "r.DB").string();
        o.skipRepeats = skip;
        log::LogSession session(o, {});
        std::string error;
        ASSERT_TRUE(session.openSinks(error)) << error;
        for (const char* f : {"4.700", "4.700", "4.700", "4.701", "4.700"})
            session.frame(frameOf(f));
        session.frame("5A00ZZ"); // does not decode: an error, no row
        ASSERT_TRUE(session.finish(error)) << error;
        EXPECT_EQ(session.frames(), 6u);
        EXPECT_EQ(session.errors(), 1u);
        std::vector<std::string> got;
        for (const auto& line : lines(test::readFile(dir / "r.csv")))
            got.push_back(line.substr(line.find(',') + 1, 8)); // No and Value
        const std::vector<std::string> want =
            skip ? std::vector<std::string>{"No,Value", "1,4.700,", "4,4.701,", "5,4.700,"}
                 : std::vector<std::string>{"No,Value", "1,4.700,", "2,4.700,",
                                            "3,4.700,", "4,4.701,", "5,4.700,"};
        EXPECT_EQ(got, want);
        EXPECT_EQ(session.rows(), want.size() - 1);
        EXPECT_EQ(expectSameRows(dir / "r.DB", dir / "r.csv"), want.size() - 1);
    }
}

// The logger's services over a crafted sysfs tree, keeping what each node was sent: a
// pseudo-terminal standing in for a hidraw node takes no feature ioctl.
class SentToTree : public test::FakeTreeHidServices {
public:
    using FakeTreeHidServices::FakeTreeHidServices;
    HidHandle open(const std::string& path, HidAccess access) override {
        const HidHandle h = FakeTreeHidServices::open(path, access);
        paths[h] = path;
        return h;
    }
    bool setFeature(HidHandle h, const std::uint8_t*, std::size_t length) override {
        features.push_back({paths[h], length});
        return true;
    }
    bool write(HidHandle h, const std::uint8_t*, std::size_t length,
               std::size_t& written) override {
        written = length;
        polls.push_back(paths[h]);
        return true;
    }
    std::map<HidHandle, std::string> paths;
    std::vector<std::pair<std::string, std::size_t>> features;
    std::vector<std::string> polls;
};

// Which cable the logger takes from the cables sysfs lists, and the feature report it sends
// it: the length the cable declares (with its report ID), not a fixed one; a cable with a
// serial number is passed over wherever it is listed.
TEST(LogSession, TakesTheCableWithoutSerialAndSendsItTheFeatureLengthItDeclares) {
    struct Cable {
        std::uint8_t featureBytes;
        std::optional<std::string> serial;
    };
    struct Case {
        const char* name;
        std::vector<Cable> cables;
        int taken; // index into cables; -1: none
        std::size_t featureLength;
    };
    const std::vector<Case> cases = {
        {"16 feature bytes", {{16, std::nullopt}}, 0, 17},
        {"no feature report", {{0, std::nullopt}}, 0, 10},
        {"a serial number listed first", {{9, "SN-0042"}, {16, std::nullopt}}, 1, 17},
        {"a serial number listed last", {{16, std::nullopt}, {9, "SN-0042"}}, 0, 17},
        {"only a serial number", {{16, "SN-0042"}}, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::FakeSysfsCable tree(test::cableDescriptor(c.cables[0].featureBytes),
                                  c.cables[0].serial);
        for (std::size_t i = 1; i < c.cables.size(); ++i)
            tree.add(test::cableDescriptor(c.cables[i].featureBytes), c.cables[i].serial);
        ASSERT_TRUE(tree.ok());
        auto services = std::make_shared<SentToTree>(tree);
        ScratchDir dir;
        const auto parsed = parseArguments({"--usb", "--csv", (dir / "u.csv").string()});
        ASSERT_TRUE(parsed.options) << parsed.error;
        log::LogSession session(*parsed.options, {}, {services, {}});
        std::string error;
        EXPECT_EQ(session.start(error), c.taken >= 0) << error;
        if (c.taken >= 0) {
            const std::string& node = tree.nodes()[static_cast<std::size_t>(c.taken)];
            EXPECT_EQ(services->features,
                      (std::vector<std::pair<std::string, std::size_t>>{{node, c.featureLength}}));
            EXPECT_EQ(services->polls, std::vector<std::string>{node});
        } else {
            EXPECT_EQ(error, "no USB cable (\"USB to Serial\") found");
            EXPECT_TRUE(services->features.empty());
        }
        session.finish(error);
    }
}

TEST(LogRun, SimulatedMeterGivesATableAndACsvThatAgreeRowForRow) {
    ScratchDir dir;
    const Outcome r =
        runLogger({"--simulate-meter", "--duration", "6", "--table", "t.DB", "--csv", "t.csv"},
                  QString::fromStdString(dir.path().string()));
    ASSERT_EQ(r.status, QProcess::NormalExit);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::size_t n = expectSameRows(dir / "t.DB", dir / "t.csv");
    // About six frames a second come from the simulated meter.
    EXPECT_GE(n, 15u);
    EXPECT_EQ(summaryRows(r.err), static_cast<long>(n)) << r.err;
    // One summary line, nothing else, on standard error.
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    // The first scene is DC volts: the SI value is the displayed number in volts.
    const auto f = fields(lines(test::readFile(dir / "t.csv"))[1]);
    EXPECT_EQ(f[3], "V");
    EXPECT_EQ(f[7], "V");
    EXPECT_FALSE(f[6].empty());
}

// Waits (with a watchdog) until the CSV holds at least n rows.
bool csvReaches(const std::filesystem::path& csv, std::size_t n) {
    return test::waitUntil(
        [&] {
            const auto l = lines(test::readFile(csv));
            return l.size() >= n + 1 && !l.back().empty();
        },
        30000);
}

TEST(LogRun, SigtermAndSigintFlushEveryPostedRowIntoBothFiles) {
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        ScratchDir dir;
        Logger l({"--simulate-meter", "--table", "t.DB", "--csv", "t.csv"},
                 QString::fromStdString(dir.path().string()));
        ASSERT_TRUE(l.started());
        ASSERT_TRUE(csvReaches(dir / "t.csv", 4));
        l.signal(sig);
        const Outcome r = l.wait();
        ASSERT_EQ(r.status, QProcess::NormalExit);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const std::size_t n = expectSameRows(dir / "t.DB", dir / "t.csv");
        EXPECT_GE(n, 4u);
        EXPECT_EQ(summaryRows(r.err), static_cast<long>(n)) << r.err;
    }
}

TEST(LogRun, LimitEndsTheRunWithExactlyThatManyRows) {
    ScratchDir dir;
    const Outcome r =
        runLogger({"--simulate-meter", "--limit", "5", "--csv", "-", "--table", "t.DB"},
                  QString::fromStdString(dir.path().string()));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const auto l = lines(r.out);
    ASSERT_EQ(l.size(), 6u) << r.out;
    EXPECT_EQ(l[0], "Timestamp,No,Value,Unit,Coupling,Auto,SIValue,SIUnit");
    EXPECT_EQ(fields(l[5])[1], "5");
    ReadingTable t;
    t.open(dir / "t.DB");
    EXPECT_EQ(t.rowCount(), 5);
    EXPECT_EQ(summaryRows(r.err), 5);
}

// The row that reaches the limit ends the run at once: the meter then sends nothing, and the
// duration would run for an hour.
TEST(LogRun, LimitEndsTheRunAtTheLastRowWithoutWaitingForAnotherFrame) {
    ScratchDir dir;
    test::PtyPair pty;
    Logger l({"--serial-port", QString::fromStdString(pty.slavePath()), "--limit", "3",
              "--duration", "3600", "--csv", "s.csv"},
             QString::fromStdString(dir.path().string()));
    ASSERT_TRUE(l.started());
    const auto csv = dir / "s.csv";
    const auto rows = [&] {
        const auto l = lines(test::readFile(csv));
        return l.empty() || l.back().empty() ? std::size_t(0) : l.size() - 1;
    };
    // A frame sent before the port is open is lost: the first is offered until it shows.
    for (int attempt = 0; attempt < 20 && rows() == 0; ++attempt) {
        pty.send(frameBytes("1.000"));
        test::waitUntil([&] { return rows() > 0; }, 1500);
    }
    ASSERT_GE(rows(), 1u);
    const std::size_t first = rows();
    ASSERT_LT(first, 3u) << "the limit was reached before the test could send its frames";
    for (std::size_t i = first; i < 3; ++i)
        pty.send(frameBytes(i == 2 ? "4.702" : "4.701"));
    const Outcome r = l.wait(30000);
    ASSERT_EQ(r.status, QProcess::NormalExit);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(summaryRows(r.err), 3) << r.err;
    const auto all = lines(test::readFile(csv));
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(fields(all[3])[2], "4.702");
}

long summaryFrames(const std::string& err) {
    const auto at = err.find(" frames,");
    if (at == std::string::npos) return -1;
    return std::stol(err.substr(err.rfind(' ', at - 1) + 1));
}

TEST(LogRun, IntervalRecordsOneRowPerTimerPeriod) {
    ScratchDir dir;
    const Outcome r =
        runLogger({"--simulate-meter", "--interval", "1", "--duration", "3.5", "--csv", "i.csv"},
                  QString::fromStdString(dir.path().string()));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const long rows = summaryRows(r.err), frames = summaryFrames(r.err);
    EXPECT_EQ(lines(test::readFile(dir / "i.csv")).size(), std::size_t(rows + 1));
    // The first reading, then one per tick of the one-second recording timer, while frames
    // come about every 150 ms.
    EXPECT_GE(rows, 2) << r.err;
    EXPECT_LE(rows, 5) << r.err;
    EXPECT_GT(frames, rows + 3) << r.err;
}

// The logger's session on a pseudo-terminal, its link watch on a clock the test moves: a
// silence past the stall time is seen by the recording's tick and counted in the summary.
TEST(LogSession, SerialPortFramesBecomeRowsAndASilenceIsCountedAsAStall) {
    ScratchDir dir;
    test::PtyPair pty;
    const auto csv = dir / "s.csv";
    const auto parsed = parseArguments({"--serial-port", pty.slavePath(), "--csv", csv.string()});
    ASSERT_TRUE(parsed.options) << parsed.error;
    auto now = LinkWatch::Clock::now();
    log::LogSession session(*parsed.options, {}, {nullptr, [&] { return now; }});
    std::vector<LinkWatch::State> health;
    QObject::connect(&session, &MeterSession::linkHealthChanged,
                     [&](LinkWatch::State s) { health.push_back(s); });
    std::string error;
    ASSERT_TRUE(session.start(error)) << error;
    auto lastValueIs = [&](const std::string& value, int timeoutMs) {
        return test::waitUntil(
            [&] {
                const auto l = lines(test::readFile(csv));
                return l.size() >= 2 && !l.back().empty() && fields(l.back())[2] == value;
            },
            timeoutMs);
    };
    // The port empties its queues once opened: a frame sent before then is lost, so the
    // first one is offered again until it shows.
    bool open = false;
    for (int attempt = 0; attempt < 20 && !open; ++attempt) {
        pty.send(frameBytes("1.000"));
        open = lastValueIs("1.000", 1500);
    }
    ASSERT_TRUE(open);
    for (const char* v : {"4.700", "4.701"}) {
        pty.send(frameBytes(v));
        ASSERT_TRUE(lastValueIs(v, 30000)) << v;
    }
    EXPECT_TRUE(health.empty()) << "no stall while the clock stands";
    now += LinkWatch::StallAfter;
    ASSERT_TRUE(test::waitUntil([&] { return !health.empty(); }, 30000));
    EXPECT_EQ(health.back(), LinkWatch::State::Stalled);
    pty.send(frameBytes("4.699"));
    ASSERT_TRUE(lastValueIs("4.699", 30000));
    EXPECT_EQ(health.back(), LinkWatch::State::Live);
    ASSERT_TRUE(session.finish(error)) << error;
    EXPECT_EQ(session.summary(), "rd780-log: " + std::to_string(session.frames()) + " frames, " +
                                     std::to_string(session.rows()) +
                                     " rows, 0 errors, 1 stall of 3 s without a frame");
    const auto rows = lines(test::readFile(csv));
    ASSERT_GE(rows.size(), 5u);
    const auto& row = rows[rows.size() - 2];
    EXPECT_EQ(fields(row)[2], "4.701");
    EXPECT_EQ(fields(row)[3], "k\u03A9");
    EXPECT_EQ(fields(row)[6], "4701");
    EXPECT_EQ(fields(row)[7], "\u03A9");
    for (std::size_t i = 1; i + 3 < rows.size(); ++i)
        EXPECT_EQ(fields(rows[i])[2], "1.000");
}

TEST(LogRun, ExitCodesForBadArgumentsAndForLinkOrFileErrors) {
    ScratchDir dir;
    const QString cwd = QString::fromStdString(dir.path().string());
    Outcome r = runLogger({"--duration", "soon"}, cwd);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("Usage: rd780-log"), std::string::npos) << r.err;
    EXPECT_EQ(runLogger({"--nonsense"}, cwd).exitCode, 2);
    EXPECT_EQ(runLogger({"--simulate-meter", "--usb"}, cwd).exitCode, 2);

    r = runLogger({"--help"}, cwd);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("--simulate-meter"), std::string::npos);

    r = runLogger({"--simulate-meter", "--duration", "1"}, cwd);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("nothing to record into"), std::string::npos) << r.err;

    r = runLogger(
        {"--serial-port", (dir / "no-such-tty").c_str(), "--duration", "1", "--csv", "a.csv"}, cwd);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no-such-tty"), std::string::npos) << r.err;

    r = runLogger({"--usb", "--device", (dir / "no-such-hidraw").c_str(), "--duration", "1",
                   "--csv", "a.csv"},
                  cwd);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no-such-hidraw"), std::string::npos) << r.err;

    // The file is named once in its reason.
    const std::string missing = (dir / "missing" / "t.DB").string();
    r = runLogger(
        {"--simulate-meter", "--table", QString::fromStdString(missing), "--duration", "1"}, cwd);
    EXPECT_EQ(r.exitCode, 1);
    const auto first = r.err.find(missing);
    EXPECT_NE(first, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(missing, first + 1), std::string::npos) << r.err;

    // A table that cannot take a reading is refused before the link is opened: the reason
    // names the table, not the missing cable.
    for (const char* fixture : {"CONTACTS.DB", "CUSTOMER.DB"}) {
        SCOPED_TRACE(fixture);
        std::filesystem::copy_file(test::fixtureDir().toStdString() + "/" + fixture, dir / fixture);
        if (std::string(fixture) == "CUSTOMER.DB")
            std::filesystem::copy_file(test::fixtureDir().toStdString() + "/CUSTOMER.PX",
                                       dir / "CUSTOMER.PX");
        r = runLogger({"--usb", "--device", (dir / "no-such-hidraw").c_str(), "--table", fixture},
                      cwd);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find(std::string("table ") + fixture), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("no-such-hidraw"), std::string::npos) << r.err;
    }

    r = runLogger(
        {"--simulate-meter", "--csv", (dir / "missing" / "t.csv").c_str(), "--duration", "1"}, cwd);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("t.csv"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("rd780-log: 0 frames, 0 rows, 0 errors"), std::string::npos) << r.err;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(LogRun, ASecondRunAddsItsRowsToBothFiles) {
    ScratchDir dir;
    const QString cwd = QString::fromStdString(dir.path().string());
    for (const char* limit : {"5", "3"}) {
        const Outcome r = runLogger(
            {"--simulate-meter", "--limit", limit, "--table", "t.DB", "--csv", "t.csv"}, cwd);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(summaryRows(r.err), std::stol(limit)) << r.err;
    }
    EXPECT_EQ(expectSameRows(dir / "t.DB", dir / "t.csv"), 8u);
    EXPECT_EQ(count(test::readFile(dir / "t.csv"), "Timestamp,"), 1u);
}

// Each target is refused with its reason before anything is written, and neither it nor
// the table changes.
TEST(LogRun, CsvTargetsThatWouldSpoilAFileAreRefused) {
    ScratchDir dir;
    const QString cwd = QString::fromStdString(dir.path().string());
    {
        ReadingTable t;
        t.openOrCreate(dir / "t.DB");
        t.appendReading({1, 1000, "DC", "4.700", "k*", "AUTO", 4.7});
        t.openOrCreate(dir / "other.DB");
    }
    std::filesystem::create_hard_link(dir / "t.DB", dir / "hard.DB");
    test::writeFile(dir / "notes.txt", "hello\r\n");
    test::writeFile(dir / "held.csv", "");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    // Another writer's lock, as the window's table engine takes it.
    const int held = ::open((dir / "held.csv").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

    struct Case {
        std::string target, reason;
    };
    const std::vector<Case> cases = {
        {"./t.DB", "is the table"},
        {(dir / "t.DB").string(), "is the table"},
        {"hard.DB", "is the table"},
        {"other.DB", "is a Paradox table"},
        {"held.csv", "locked"},
        {"notes.txt", "does not begin with the CSV header"},
        {"fifo", "FIFO"},
    };
    const std::string table = test::readFile(dir / "t.DB");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        const std::filesystem::path target =
            c.target[0] == '/' ? std::filesystem::path(c.target) : dir / c.target;
        const std::string before = c.target == "fifo" ? "" : test::readFile(target);
        const Outcome r = runLogger({"--simulate-meter", "--duration", "5", "--table", "t.DB",
                                     "--csv", QString::fromStdString(c.target)},
                                    cwd);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_EQ(test::readFile(dir / "t.DB"), table);
        if (c.target != "fifo") {
            EXPECT_EQ(test::readFile(target), before);
        }
    }
    EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo"));
    ::close(held);
}

// A pipe whose reader never reads: the logger's first write blocks in the kernel.
struct StalledPipe {
    int fds[2] = {-1, -1};
    StalledPipe() {
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
        const std::string chunk(4096, 'x');
        while (::write(fds[1], chunk.data(), chunk.size()) > 0) {
        }
        ::fcntl(fds[1], F_SETFL, 0);
    }
    ~StalledPipe() {
        for (int fd : fds)
            if (fd >= 0) ::close(fd);
    }
};

TEST(LogRun, SignalsEndARunBlockedOnItsOutputWithinASecond) {
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        ScratchDir dir;
        StalledPipe pipe;
        ASSERT_GE(pipe.fds[1], 0);
        const int out = pipe.fds[1];
        Logger l({"--simulate-meter", "--table", "t.DB", "--csv", "-"},
                 QString::fromStdString(dir.path().string()), [out] { ::dup2(out, 1); });
        ASSERT_TRUE(l.started());
        ASSERT_TRUE(test::waitUntil([&] { return l.blockedOnPipe(); }, 10000));
        QElapsedTimer clock;
        clock.start();
        l.signal(sig);
        const Outcome r = l.wait(10000);
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_EQ(r.status, QProcess::NormalExit) << r.err;
        // Ended by its own stop, not by the last-resort exit.
        EXPECT_NE(r.err.find("stopped by a signal"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("still blocked"), std::string::npos) << r.err;
    }
}

TEST(LogRun, FilesAreMadeAsTheUmaskSaysAndLeftoversOfOursAreCleared) {
    ScratchDir dir;
    const QString cwd = QString::fromStdString(dir.path().string());
    // What a creation killed before its rename leaves, and what only looks like it.
    const std::vector<std::string> ours = {".t.DB.new-Ab12Cd", ".old.DB.new-zzzzzz"};
    const std::vector<std::string> kept = {".t.DB.new-Held01", ".t.DB.new-short", "t.DB.new-AAAAAA",
                                           ".t.DB.old-Ab12Cd"};
    for (const auto& n : ours)
        test::writeFile(dir / n, "");
    for (const auto& n : kept)
        test::writeFile(dir / n, "");
    const int held = ::open((dir / ".t.DB.new-Held01").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

    const Outcome r =
        runLogger({"--simulate-meter", "--limit", "1", "--table", "t.DB", "--csv", "t.csv"}, cwd,
                  [] { ::umask(077); });
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const char* f : {"t.DB", "t.csv"}) {
        struct stat st {};
        ASSERT_EQ(::stat((dir / f).c_str(), &st), 0) << f;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
    }
    for (const auto& n : ours)
        EXPECT_FALSE(std::filesystem::exists(dir / n)) << n;
    for (const auto& n : kept)
        EXPECT_TRUE(std::filesystem::exists(dir / n)) << n;
    ::close(held);
}

// A full disk, played by a file size limit: the run ends with status 1, the CSV at its last
// whole line, and both files holding the rows the summary counts. Either file may be the
// one that fails first.
TEST(LogRun, AFullDiskLeavesBothFilesAtTheSameWholeRow) {
    struct Case {
        const char* name;
        std::size_t csvBefore; // bytes the CSV holds before the run
        std::size_t extra;     // room past them before the limit
    };
    // The table takes its first 8 KiB block with its first row, after a 2 KiB header.
    for (const Case c : {Case{"the CSV fills first", 20000, 300}, Case{"the table", 0, 6000}}) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        std::string before = csvHeader();
        const std::string filler = "2026-12-09T14:05:09.120+01:00,7,-45.05,mV,DC,,-0.04505,V\r\n";
        while (before.size() + filler.size() <= c.csvBefore)
            before += filler;
        const std::size_t fillerLines = c.csvBefore ? lines(before).size() : 1;
        if (c.csvBefore) test::writeFile(dir / "t.csv", before);
        const rlim_t limit = before.size() + c.extra;
        const Outcome r = runLogger({"--simulate-meter", "--table", "t.DB", "--csv", "t.csv"},
                                    QString::fromStdString(dir.path().string()), [limit] {
                                        ::signal(SIGXFSZ, SIG_IGN);
                                        const rlimit l{limit, limit};
                                        ::setrlimit(RLIMIT_FSIZE, &l);
                                    });
        EXPECT_EQ(r.exitCode, 1) << r.err;
        const std::string csv = test::readFile(dir / "t.csv");
        ASSERT_GE(csv.size(), 2u);
        EXPECT_EQ(csv.substr(csv.size() - 2), "\r\n");
        EXPECT_EQ(csv.substr(0, before.size()), before);
        const std::size_t n = expectSameRows(dir / "t.DB", dir / "t.csv", fillerLines);
        EXPECT_EQ(summaryRows(r.err), static_cast<long>(n)) << r.err;
        if (c.csvBefore) {
            EXPECT_GE(n, 1u);
        }
    }
}

TEST(LogRun, NeedsNoGuiModule) {
    QProcess p;
    p.start("readelf", {"-d", RD780_LOG_BINARY});
    ASSERT_TRUE(p.waitForFinished(30000));
    const std::string needed = p.readAllStandardOutput().toStdString();
    ASSERT_NE(needed.find("libQt6Core"), std::string::npos) << needed;
    EXPECT_EQ(needed.find("libQt6Gui"), std::string::npos);
    EXPECT_EQ(needed.find("libQt6Widgets"), std::string::npos);
}

} // namespace
} // namespace rd780
