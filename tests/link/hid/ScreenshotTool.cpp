// Starts the window as `rd780 --simulate-meter` does, presses Connect once, lets the
// simulated meter run and saves a picture of the window: hid_screenshot OUT.png [SECONDS]
#include "app/TFCOMM.h"
#include "link/hid/SimulatedHidServices.h"
#include "link/hid/UsbLinkPanel.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QPixmap>
#include <QTemporaryDir>
#include <QToolButton>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: hid_screenshot OUT.png [SECONDS]\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    const QString out = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1]));
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 4;
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    rd780::ProgramOptions options;
    options.simulateMeter = true;
    options.messageHook = [](const QString& m) {
        std::fprintf(stderr, "message: %s\n", qPrintable(m));
    };
    rd780::TFCOMM w(options);
    w.show();
    w.Usb->USBCon->click();
    QDeadlineTimer deadline(seconds * 1000);
    while (!deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    // Take the picture just after a long frame, so the chart shows its waveform too.
    QDeadlineTimer more(5000);
    while (w.S.FrameHex.size() != 722 && !more.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    // Let the chart's scene repaint; the meter's next frame is over 100 ms away.
    QDeadlineTimer paint(30);
    while (!paint.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    if (w.S.ReadingUnit.empty()) {
        std::fputs("no reading was decoded\n", stderr);
        return 1;
    }
    std::printf("reading %s %s, frame text %zu, %llu frames\n", w.S.ReadingText.c_str(),
                w.S.ReadingUnit.c_str(), w.S.FrameHex.size(),
                static_cast<unsigned long long>(
                    w.Usb->SimulatedHid ? w.Usb->SimulatedHid->framesSent(1) : 0));
    if (!w.grab().save(out)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
        return 1;
    }
    w.Usb->USBCon->click();
    return 0;
}
