// Writes the README pictures of the scale and the chart, headless:
//   QT_QPA_PLATFORM=offscreen view_screenshots <docs folder>
#include "app/TFCOMM.h"
#include "meter/MeterPanel.h"
#include "record/LimitPanel.h"
#include "tests/meter/FrameBuilder.h"
#include "view/ChartPanel.h"
#include "view/ScalePanel.h"
#include "view/ScaleView.h"
#include "view/WaveChart.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>

using namespace rd780;

namespace {

// A long frame carrying a damped two-tone wave, as a meter's scope mode might send it.
std::string waveFrame() {
    test::FrameSpec meter;
    meter.display = " 12.48 ";
    meter.offset = 0xFC; // -4
    auto b = test::frameBytes(meter, true);
    for (int i = 0; i < 160; ++i) {
        const double t = i / 160.0;
        const double v =
            42 * std::exp(-1.2 * t) * std::sin(2 * M_PI * 3 * t) + 8 * std::sin(2 * M_PI * 11 * t);
        const int s = static_cast<int>(std::lround(v));
        b[41 + 2 * i] = static_cast<uint8_t>(s / 2); // the weaker byte of the pair
        b[42 + 2 * i] = static_cast<uint8_t>(s);
    }
    std::string t;
    appendHex(t, b.data(), b.size());
    return t;
}

bool save(QWidget* w, const QDir& dir, const char* name) {
    const bool ok = w->grab().save(dir.filePath(name));
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(dir.filePath(name)));
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QDir out(
        QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs")).absolutePath());
    QTemporaryDir work;
    QDir::setCurrent(work.path()); // the reading table is made here
    ProgramOptions options;
    options.messageHook = [](const QString& m) { std::printf("message: %s\n", qPrintable(m)); };
    TFCOMM w(options);
    w.show();
    app.processEvents();

    bool ok = save(w.Scale->KD, out, "scale-start.png");

    w.Limits->Setmax->setText("1500");
    w.Limits->SetMaxB->click();
    w.Limits->SetMin->setText("-2500");
    w.Limits->SetMinB->click();
    test::FrameSpec reading;
    reading.display = " 18.20 ";
    w.S.FrameHex = test::frameText(reading);
    w.Meter->LcdDisplay520();
    app.processEvents();
    ok &= save(w.Scale->KD, out, "scale-limits.png");

    w.S.FrameHex = waveFrame();
    w.Meter->LcdDisplay520();
    app.processEvents();
    ok &= save(w.Chart->Chtshow, out, "chart-long-frame.png");

    w.Chart->OnescopeClick();
    app.processEvents();
    ok &= save(w.Chart->Chtshow, out, "chart-test-pattern.png");
    return ok ? 0 : 1;
}
