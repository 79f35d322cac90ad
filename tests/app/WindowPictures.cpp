// Takes three pictures of the main window with everything that moves on its own held
// still, and optionally compares them pixel for pixel with an earlier set:
//   rd780-window-pictures OUT_DIR [REFERENCE_DIR]
// start.png      the window as it opens
// test-frame.png after the built-in test frame (Button4)
// meter.png      the simulated meter after Connect, stopped after its first long frame
// and each of them once more at full height (*-full.png).
// Only object names and the window's shared state are used, so the same program runs
// against any arrangement of the window's parts.
#include "app/TFCOMM.h"
#include "link/hid/SimulatedHidServices.h"
#include "panel/Panel.h"
#include "status/StatusBar.h"
#include "status/StatusFeed.h"
#include "view/HistoryList.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QImage>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace rd780;

namespace {

// A reading stamped at 12:34:56 instead of the wall clock.
constexpr double FrozenRecallTime = 46000.0 + (12 * 3600 + 34 * 60 + 56) / 86400.0;
constexpr int MeterFrames = 8; // the eighth frame of the simulated meter is its first long one

template <class T> T* child(TFCOMM& w, const char* name) {
    T* c = w.findChild<T*>(name);
    if (!c) {
        std::fprintf(stderr, "no %s in the window\n", name);
        std::exit(1);
    }
    return c;
}

// Lets queued repaints (the chart's scene posts its own) run; no wall-clock wait.
void settle() {
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    // The history list shows new lines on a short timer: a picture taken before it fired
    // would show the list as it was, or not, by chance.
    QDeadlineTimer refreshed(2 * view::HistoryList::RefreshMs);
    while (!refreshed.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

// The status bar names the scratch folder and counts frames per second, which differ from
// run to run: its feed is taken away and the bar shows fixed texts.
void holdStatusStill(TFCOMM& w) {
    for (Panel* p : w.findChildren<Panel*>())
        p->Status = nullptr;
    delete w.findChild<StatusFeed*>();
    auto* bar = qobject_cast<StatusBar*>(w.statusBar());
    if (!bar) return;
    bar->setTexts({"Link: held still", "Table: held still", "Recording: held still"});
    QDeadlineTimer deadline(5000);
    while (bar->pending() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Stops what changes pixels by the clock: the link lamp's idle timer, the time stamps and
// the status bar.
void holdStill(TFCOMM& w) {
    child<QTimer>(w, "ConTimer")->stop();
    child<QCheckBox>(w, "RecallCheck")->setChecked(true);
    w.S.RecallTime = FrozenRecallTime;
    holdStatusStill(w);
}

bool grabTo(TFCOMM& w, const QString& path) {
    settle();
    const bool ok = w.grab().toImage().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED to write", qPrintable(path));
    return ok;
}

// The window as it opens, and once more at its full height so the lower strip (recall,
// limits, history, serial panels), which the start-up height hides, is checked too.
bool save(TFCOMM& w, const QDir& out, const QString& name) {
    bool ok = grabTo(w, out.filePath(name + ".png"));
    const int height = w.height();
    w.resize(w.width(), height + 130);
    ok &= grabTo(w, out.filePath(name + "-full.png"));
    w.resize(w.width(), height);
    settle();
    return ok;
}

// Pixel for pixel; prints how many differ and where.
bool same(const QString& a, const QString& b) {
    QImage x(a), y(b);
    if (x.isNull() || y.isNull()) {
        std::printf("DIFFERENT %s: cannot read one of the pictures\n", qPrintable(a));
        return false;
    }
    if (x.size() != y.size()) {
        std::printf("DIFFERENT %s: %dx%d against %dx%d\n", qPrintable(a), x.width(), x.height(),
                    y.width(), y.height());
        return false;
    }
    x = x.convertToFormat(QImage::Format_ARGB32);
    y = y.convertToFormat(QImage::Format_ARGB32);
    long differ = 0;
    QRect box;
    for (int r = 0; r < x.height(); ++r)
        for (int c = 0; c < x.width(); ++c)
            if (x.pixel(c, r) != y.pixel(c, r)) {
                ++differ;
                box |= QRect(c, r, 1, 1);
            }
    if (differ == 0) {
        std::printf("SAME %s (%dx%d)\n", qPrintable(a), x.width(), x.height());
        return true;
    }
    std::printf("DIFFERENT %s: %ld pixels in %d,%d %dx%d\n", qPrintable(a), differ, box.x(),
                box.y(), box.width(), box.height());
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc < 2) {
        std::fputs("usage: rd780-window-pictures OUT_DIR [REFERENCE_DIR]\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    const QDir out(QDir(QString::fromLocal8Bit(argv[1])).absolutePath());
    QDir().mkpath(out.path());
    ProgramOptions options;
    options.messageHook = [](const QString& m) { std::printf("message: %s\n", qPrintable(m)); };
    bool ok = true;

    {
        QTemporaryDir work;
        QDir::setCurrent(work.path()); // a fresh reading table
        TFCOMM w(options);
        w.show();
        holdStill(w);
        ok &= save(w, out, "start");
        child<QAbstractButton>(w, "Button4")->click();
        ok &= save(w, out, "test-frame");
    }

    {
        QTemporaryDir work;
        QDir::setCurrent(work.path());
        auto sim = std::make_shared<SimulatedHidServices>();
        // Every report full, as fast as it is read: how the frames are cut into reports
        // then depends on nothing but the frames.
        SimDeviceConfig config;
        config.reportInterval = std::chrono::microseconds(0);
        config.meterPeriod = std::chrono::milliseconds(0);
        const int cable = sim->addDevice(config);
        TFCOMM::MakeHidServices = [sim](const ProgramOptions&) { return sim; };
        TFCOMM w(options);
        TFCOMM::MakeHidServices = nullptr;
        w.show();
        holdStill(w);
        // Silence the meter the moment its last wanted reading is recorded: the poll that
        // follows gets no answer, so the picture cannot catch a frame half listed.
        QAbstractItemModel* rows = child<QTableView>(w, "DBGrid1")->model();
        QObject::connect(rows, &QAbstractItemModel::rowsInserted, &app, [&] {
            if (rows->rowCount() >= MeterFrames) sim->setMeterSilent(cable, true);
        });
        child<QAbstractButton>(w, "USBCon")->click();
        QDeadlineTimer deadline(60000);
        while (rows->rowCount() < MeterFrames && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (rows->rowCount() != MeterFrames || w.S.FrameHex.size() != 722) {
            std::fprintf(stderr, "the meter gave %d rows, last frame text %zu\n", rows->rowCount(),
                         w.S.FrameHex.size());
            return 1;
        }
        ok &= save(w, out, "meter");
        child<QAbstractButton>(w, "USBCon")->click();
    }

    if (argc > 2) {
        const QDir ref(QString::fromLocal8Bit(argv[2]));
        for (const char* name : {"start.png", "start-full.png", "test-frame.png",
                                 "test-frame-full.png", "meter.png", "meter-full.png"})
            ok &= same(out.filePath(name), ref.filePath(name));
    }
    return ok ? 0 : 1;
}
