// Program start: the application object, the main window, the event loop.
#include "app/TFCOMM.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace {

// Last line of the window's error handling: an error that escapes a handler is shown and
// the program goes on; it never unwinds through Qt's event loop.
class Application : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            QMessageBox::information(activeWindow(), applicationName(), e.what());
        } catch (...) {
            QMessageBox::information(activeWindow(), applicationName(), "Unknown error");
        }
        return false;
    }
};

void usage(FILE* to) {
    std::fputs("Usage: rd780 [--simulate-meter] [--serial-port DEVICE] [--capture FILE]\n"
               "             [--replay FILE [--speed X]]\n"
               "  --simulate-meter      add a simulated USB cable with a meter behind it\n"
               "  --serial-port DEVICE  open DEVICE as COM1 (for example /dev/ttyUSB0)\n"
               "  --capture FILE        write what the link delivers into FILE\n"
               "  --replay FILE         play a capture back: as a cable in the device list,\n"
               "                        or on Connect for a serial capture\n"
               "  --speed X             replay X times as fast (default 1)\n"
               "  -h, --help            show this help\n"
               "  --version             print the version\n",
               to);
}

} // namespace

int main(int argc, char** argv) {
    rd780::ProgramOptions options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--simulate-meter") == 0) {
            options.simulateMeter = true;
        } else if (std::strcmp(argv[i], "--serial-port") == 0 && i + 1 < argc) {
            options.serialPort = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(argv[i], "--capture") == 0 && i + 1 < argc) {
            options.capture = argv[++i];
        } else if (std::strcmp(argv[i], "--replay") == 0 && i + 1 < argc) {
            options.replay = argv[++i];
        } else if (std::strcmp(argv[i], "--speed") == 0 && i + 1 < argc) {
            char* end = nullptr;
            options.replaySpeed = std::strtod(argv[++i], &end);
            if (*end != '\0' || !(options.replaySpeed > 0 && options.replaySpeed <= 1000)) {
                std::fprintf(stderr, "rd780: --speed: '%s' is not a factor above 0 up to 1000\n",
                             argv[i]);
                usage(stderr);
                return 2;
            }
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            usage(stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("rd780 " RD780_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 1;
        } else {
            if (std::strcmp(argv[i], "--serial-port") == 0)
                std::fputs("rd780: --serial-port needs a device\n", stderr);
            else if (std::strcmp(argv[i], "--capture") == 0 ||
                     std::strcmp(argv[i], "--replay") == 0)
                std::fprintf(stderr, "rd780: %s needs a file\n", argv[i]);
            else if (std::strcmp(argv[i], "--speed") == 0)
                std::fputs("rd780: --speed needs a factor\n", stderr);
            else
                std::fprintf(stderr, "rd780: unknown argument '%s'\n", argv[i]);
            usage(stderr);
            return 2;
        }
    }
    Application app(argc, argv);
    Application::setApplicationName("rd780");
    Application::setApplicationVersion("1.00");
    rd780::TFCOMM window(options);
    window.show();
    return app.exec();
}
