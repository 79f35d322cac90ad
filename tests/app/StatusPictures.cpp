// Not a test: pictures of the window's status bar at work, for the README. Runs the window
// with the simulated cable as `rd780 --simulate-meter` does:
//   rd780-status-pictures OUT_DIR
// status-recording.png    recording, with the status bar
// status-grid-scrolled.png the grid scrolled up while rows keep coming
// new-question.png        the question before New empties the table
// usb-connected.png, usb-not-connected.png  the USB button in both states
#include "app/TFCOMM.h"
#include "link/hid/UsbLinkPanel.h"
#include "record/RecordingPanel.h"
#include "record/RecordingSide.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>

#include <cstdio>
#include <functional>

namespace {

bool waitFor(const std::function<bool()>& done, int ms) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Past the status bar's quiet interval, so it shows the latest texts.
void settle() {
    QDeadlineTimer deadline(400);
    while (!deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool save(const QPixmap& picture, const QDir& out, const char* name) {
    const QString path = out.filePath(QString::fromLatin1(name));
    if (picture.save(path)) return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

// The top left of the window with the USB button, twice the size so the caption reads.
QPixmap usbCorner(rd780::TFCOMM& w) {
    const QRect r(0, 0, 240, w.MainMenu1->height() + 40);
    return w.grab(r).scaled(r.size() * 2, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: rd780-status-pictures OUT_DIR\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    const QDir out(QDir(QString::fromLocal8Bit(argv[1])).absolutePath());
    QDir().mkpath(out.path());
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());

    QPixmap question;
    rd780::ProgramOptions options;
    options.simulateMeter = true;
    options.messageHook = [](const QString& m) {
        std::fprintf(stderr, "message: %s\n", qPrintable(m));
    };
    options.questionHook = [&question](const QString& text, QMessageBox::StandardButton def) {
        QMessageBox box(QMessageBox::Question, "rd780", text,
                        QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(def);
        box.show();
        settle();
        question = box.grab();
        return QMessageBox::Cancel;
    };
    rd780::TFCOMM w(options);
    w.show();
    rd780::RecordingPanel& rec = *w.Recording;
    const auto rows = [&rec] { return rec.Rec->Table.rowCount(); };
    bool ok = true;

    ok &= save(usbCorner(w), out, "usb-not-connected.png");
    w.Usb->USBCon->click();
    if (!waitFor([&] { return rows() >= 30; }, 60000)) {
        std::fputs("the simulated meter gave too few rows\n", stderr);
        return 1;
    }
    settle();
    ok &= save(w.grab(), out, "status-recording.png");
    ok &= save(usbCorner(w), out, "usb-connected.png");

    rec.DBGrid1->verticalScrollBar()->setValue(0);
    const int64_t before = rows();
    waitFor([&] { return rows() >= before + 15; }, 30000);
    settle();
    ok &= save(w.grab(), out, "status-grid-scrolled.png");

    rec.RecordNew->click(); // answered Cancel once pictured
    ok &= !question.isNull() && save(question, out, "new-question.png");
    w.Usb->USBCon->click();
    std::printf("%lld rows recorded\n", static_cast<long long>(rows()));
    return ok ? 0 : 1;
}
