// Writes the README pictures of the trend window, headless:
//   QT_QPA_PLATFORM=offscreen trend_screenshots <docs folder>
// The readings go through the decoder as meter frames would, and through the limit alarm.
#include "meter/core/FrameAssembler.h"
#include "meter/core/FrameDecoder.h"
#include "meter/core/MeterSimulator.h"
#include "record/LimitAlarm.h"
#include "view/TrendWindow.h"

#include <QApplication>
#include <QDir>
#include <QTimer>

#include <cmath>
#include <cstdio>

using namespace rd780;

namespace {

struct Decoded {
    std::string text, unit, coupling, autoText;
    float value = 0;
};

Decoded decode(const MeterDisplay& d) {
    const auto bytes = MeterSimulator::encode(d);
    std::string frame;
    appendHex(frame, bytes.data(), bytes.size());
    Decoded r;
    DecodeSink sink;
    decodeFrame(frame, ScaleSettings{}, {r.text, r.value, r.unit, r.coupling, r.autoText}, sink);
    return r;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QDir dir(argc > 1 ? argv[1] : "docs");
    view::TrendWindow w;
    w.resize(1000, 620);

    // Twenty minutes of a supply drifting around 1.5 V, a frame every 150 ms, with an
    // open lead (overloads) for a few seconds, then a resistor on the kilohm range.
    LimitAlarm alarm;
    alarm.setLimits({1800, 1200, true, true});
    int crossings = 0;
    const int64_t start = 1'765'260'000'000; // a December morning
    int64_t t = start;
    for (int i = 0; i < 8000; ++i, t += 150) {
        MeterDisplay d;
        d.function = 0;
        d.autoRange = true;
        const double s = i * 0.15;
        const double v =
            1.5 + 0.33 * std::sin(s / 97.0) + 0.06 * std::sin(s / 7.3) + 0.01 * std::sin(s * 3.1);
        d.field = MeterSimulator::formatField(v, 1);
        if (i >= 5200 && i < 5240) d.field = " 0.L ";
        const Decoded r = decode(d);
        if (alarm.offer(r.value, r.text)) ++crossings;
        w.addReading(t, r.text, r.unit);
    }
    for (int i = 0; i < 200; ++i, t += 150) {
        MeterDisplay d;
        d.function = 4;
        d.prefix = 'k';
        d.field = MeterSimulator::formatField(4.70 + 0.004 * std::sin(i / 9.0), 1);
        const Decoded r = decode(d);
        w.addReading(t, r.text, r.unit);
    }
    w.setLimits(1800.0, 1200.0);
    w.setFollowing(false);
    w.showUnit(" V");
    w.viewport().showAll(start, start + 8000LL * 150);
    w.show();
    // Let the statistics table take its figures.
    QApplication::processEvents();
    QTimer::singleShot(400, &app, &QApplication::quit);
    app.exec();
    bool ok = w.grab().save(dir.filePath("trend-statistics.png"));

    // Zoomed onto the first crossing of the upper limit.
    w.viewport().showAll(start, start + 8000LL * 150);
    w.viewport().zoom(0.25, 0.1);
    w.plot()->repaint();
    ok = w.grab().save(dir.filePath("trend-limits.png")) && ok;
    std::printf("%d crossings of the limits in %d readings\n", crossings, 8000);
    return ok ? 0 : 1;
}
