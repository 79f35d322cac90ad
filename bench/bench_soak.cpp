// Soak run of the live data path: the whole window (offscreen), the simulated cable and
// its meter, connected for minutes. Reports how the pace holds up over time, how busy the
// GUI thread is (share of wall time, and its CPU time per report and per frame) and
// whether memory grows.
//
//   rd780_soak [--seconds N] [--mode paced|flat|both] [--height start|full|both] [--events]
//
// paced: a report every 10 ms, made whether read or not, as a real cable does (reports a
// reader is too slow for are dropped); flat: reports as fast as they are read and frames
// back to back. start: the window at the height it opens with, its lowest strip (history
// list, link panels) out of view; full: the whole design in view. Each run lasts N seconds
// (default 300). --events also lists where the GUI thread's time went, per receiver and
// event type.
#include "app/TFCOMM.h"
#include "link/hid/SimulatedHidServices.h"
#include "link/hid/UsbLinkPanel.h"
#include "meter/MeterPanel.h"
#include "record/RecordingPanel.h"
#include "record/RecordingSide.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMenuBar>
#include <QPaintEvent>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

using namespace rd780;

namespace {

double threadCpuSeconds();

// With --events: the GUI thread's CPU time per receiver and event type, each event with
// what it sent on (nested events are counted in their own line too).
class ProfilingApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool profiling = false;
    bool notify(QObject* receiver, QEvent* event) override {
        if (!profiling || QThread::currentThread() != thread())
            return QApplication::notify(receiver, event);
        // Named first: the event may delete its receiver.
        std::string key = receiver->metaObject()->className();
        if (!receiver->objectName().isEmpty()) key += " " + receiver->objectName().toStdString();
        // A scroll area's viewport or an unnamed part is known by its owner.
        if (QObject* owner = receiver->parent();
            owner && (receiver->objectName().isEmpty() ||
                      receiver->objectName().startsWith(QLatin1String("qt_"))))
            key += " in " + (owner->objectName().isEmpty()
                                 ? std::string(owner->metaObject()->className())
                                 : owner->objectName().toStdString());
        // A timer without a name is known by its interval.
        if (const auto* t = qobject_cast<QTimer*>(receiver); t && t->objectName().isEmpty())
            key += " " + std::to_string(t->interval()) + " ms";
        key += " #" + std::to_string(int(event->type()));
        if (event->type() == QEvent::Paint) {
            const QRect r = static_cast<QPaintEvent*>(event)->rect();
            areas[key] += double(r.width()) * r.height();
        }
        const double t0 = threadCpuSeconds();
        const bool r = QApplication::notify(receiver, event);
        auto& e = times[key];
        e.first += threadCpuSeconds() - t0;
        ++e.second;
        return r;
    }
    void print(double seconds) {
        std::vector<std::pair<std::string, std::pair<double, long>>> v(times.begin(), times.end());
        std::sort(v.begin(), v.end(),
                  [](const auto& a, const auto& b) { return a.second.first > b.second.first; });
        std::printf("  events by GUI CPU time (receiver, event type: us/s, count/s; paints: "
                    "mean px painted)\n");
        for (std::size_t i = 0; i < v.size() && i < 30; ++i) {
            std::printf("    %-64s %8.1f %8.1f", v[i].first.c_str(),
                        1e6 * v[i].second.first / seconds, double(v[i].second.second) / seconds);
            if (const auto a = areas.find(v[i].first); a != areas.end())
                std::printf(" %8.0f", a->second / double(v[i].second.second));
            std::printf("\n");
        }
        times.clear();
        areas.clear();
    }
    std::map<std::string, std::pair<double, long>> times;
    std::map<std::string, double> areas; // pixels painted per Paint key
};

struct Sample {
    double wall = 0;    // seconds since connect
    double guiCpu = 0;  // GUI thread CPU seconds since connect
    double reports = 0; // reports taken from the cable
    double frames = 0;  // frames decoded
    double rows = 0;    // rows in the reading table
    double dropped = 0; // reports lost to a full queue (paced)
    double rssMb = 0;
};

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double rssMb() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

// Rates over [from, to] seconds, from the samples nearest those times.
struct Rates {
    double reports, frames, rows;
};
Rates ratesBetween(const std::vector<Sample>& s, double from, double to) {
    const Sample* a = &s.front();
    const Sample* b = &s.back();
    for (const Sample& x : s) {
        if (x.wall <= from) a = &x;
        if (x.wall <= to) b = &x;
    }
    const double dt = b->wall - a->wall;
    if (dt <= 0) return {0, 0, 0};
    return {(b->reports - a->reports) / dt, (b->frames - a->frames) / dt, (b->rows - a->rows) / dt};
}

int runMode(const char* mode, bool paced, bool fullHeight, int seconds) {
    QTemporaryDir dir;
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.path());

    auto sim = std::make_shared<SimulatedHidServices>();
    SimDeviceConfig cable;
    if (paced) {
        cable.paced = true;
        cable.reportInterval = std::chrono::milliseconds(10);
    } else {
        cable.reportInterval = std::chrono::microseconds(0);
        cable.meterPeriod = std::chrono::milliseconds(0);
    }
    const int id = sim->addDevice(cable);
    TFCOMM::MakeHidServices = [sim](const ProgramOptions&) { return sim; };
    int boxes = 0;
    ProgramOptions options;
    options.messageHook = [&boxes](const QString& m) {
        if (boxes++ < 5) std::fprintf(stderr, "box: %s\n", qPrintable(m));
    };
    std::vector<Sample> samples;
    int windowHeight = 0;
    {
        TFCOMM w(options);
        TFCOMM::MakeHidServices = nullptr;
        if (fullHeight)
            w.resize(w.width(),
                     w.MainMenu1->sizeHint().height() + 596 + w.statusBar()->sizeHint().height());
        w.show();
        QCoreApplication::processEvents();
        windowHeight = w.height();
        // Flat out fills the default 10,000-row limit within a minute; the pace of a full
        // run is only comparable when recording never stops.
        w.limitess->trigger();
        w.Usb->USBCon->click();

        const double cpu0 = threadCpuSeconds();
        QElapsedTimer clock;
        clock.start();
        auto sample = [&] {
            Sample s;
            s.wall = static_cast<double>(clock.nsecsElapsed()) / 1e9;
            s.guiCpu = threadCpuSeconds() - cpu0;
            s.reports = static_cast<double>(sim->reportsRead(id));
            s.frames = static_cast<double>(w.Meter->FramesDecoded);
            s.rows = static_cast<double>(
                w.Recording->Rec->Table.isOpen() ? w.Recording->Rec->Table.rowCount() : 0);
            s.dropped = static_cast<double>(sim->reportsDropped(id));
            s.rssMb = rssMb();
            samples.push_back(s);
        };
        sample();
        QTimer tick;
        tick.setInterval(1000);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            sample();
            if (samples.back().wall >= seconds) QCoreApplication::quit();
        });
        tick.start();
        QCoreApplication::exec();
        sample();
        w.Usb->USBCon->click();
    }
    QDir::setCurrent(oldCwd);

    const Sample& first = samples.front();
    const Sample& last = samples.back();
    const double window = std::min(60.0, last.wall / 3);
    const Rates head = ratesBetween(samples, 0, window);
    const Rates tail = ratesBetween(samples, last.wall - window, last.wall);
    std::printf("mode %s, %s height (%d px): %.0f s, rates over the first and last %.0f s\n", mode,
                fullHeight ? "full" : "start", windowHeight, last.wall, window);
    std::printf("  reports handled/s  first %8.1f  last %8.1f  last/first %.3f\n", head.reports,
                tail.reports, head.reports > 0 ? tail.reports / head.reports : 0.0);
    std::printf("  frames decoded/s   first %8.1f  last %8.1f  last/first %.3f\n", head.frames,
                tail.frames, head.frames > 0 ? tail.frames / head.frames : 0.0);
    std::printf("  rows recorded/s    first %8.1f  last %8.1f\n", head.rows, tail.rows);
    std::printf(
        "  GUI thread busy    %.2f %% of wall time, %.0f us per report, %.0f us per frame\n",
        100.0 * last.guiCpu / last.wall, last.reports > 0 ? 1e6 * last.guiCpu / last.reports : 0.0,
        last.frames > 0 ? 1e6 * last.guiCpu / last.frames : 0.0);
    std::printf("  reports dropped    %.0f of %.0f made\n", last.dropped,
                static_cast<double>(sim->reportsSent(id)));
    // Start: once the window is up and connected; the first sample after a second.
    const double rssStart = samples.size() > 1 ? samples[1].rssMb : first.rssMb;
    std::printf("  resident memory    start %.1f MB  end %.1f MB  growth %.1f MB\n", rssStart,
                last.rssMb, last.rssMb - rssStart);
    std::printf("  information boxes  %d\n", boxes);
    if (auto* p = dynamic_cast<ProfilingApplication*>(qApp); p && p->profiling) p->print(last.wall);
    std::fflush(stdout);
    return boxes == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 300;
    std::string mode = "both";
    std::string height = "both";
    bool profileEvents = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::max(10, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--mode") == 0 && i + 1 < argc) {
            mode = argv[++i];
        } else if (std::strcmp(argv[i], "--height") == 0 && i + 1 < argc) {
            height = argv[++i];
        } else if (std::strcmp(argv[i], "--events") == 0) {
            profileEvents = true;
        } else {
            std::fprintf(stderr, "usage: rd780_soak [--seconds N] [--mode paced|flat|both] "
                                 "[--height start|full|both] [--events]\n");
            return 2;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ProfilingApplication app(argc, argv);
    app.profiling = profileEvents;
    int rc = 0;
    for (const bool full : {false, true}) {
        if (height != "both" && (height == "full") != full) continue;
        if (mode == "paced" || mode == "both") rc |= runMode("paced", true, full, seconds);
        if (mode == "flat" || mode == "both") rc |= runMode("flat", false, full, seconds);
    }
    return rc;
}
