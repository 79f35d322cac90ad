// rd780-log: records a meter into a reading table and/or CSV without a display.
#include "tools/log/LogOptions.h"
#include "tools/log/LogSession.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/time.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t stopRequested = 0;

// Past this after a signal the run is ended from the handler: whatever the program is
// blocked in, it ends within a second. Rows already written are in the files by then.
constexpr long BackstopMs = 900;

void onBackstop(int) {
    static const char text[] = "rd780-log: still blocked after the signal; ended without the "
                               "final flush\n";
    [[maybe_unused]] const auto n = ::write(STDERR_FILENO, text, sizeof text - 1);
    ::_exit(1);
}

void onSignal(int) {
    const char c = 's';
    // Nothing else is safe here; the event loop reads the pipe.
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
    if (!stopRequested) {
        stopRequested = 1;
        itimerval t{};
        t.it_value.tv_usec = BackstopMs * 1000;
        ::setitimer(ITIMER_REAL, &t, nullptr);
    }
}

} // namespace

int main(int argc, char** argv) {
    using namespace rd780::log;
    std::vector<std::string> args(argv + 1, argv + argc);
    const ParseResult parsed = parseArguments(args);
    if (!parsed.options) {
        std::fprintf(stderr, "rd780-log: %s\n%s", parsed.error.c_str(), usageText().c_str());
        return 2;
    }
    const LogOptions& options = *parsed.options;
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (options.version) {
        std::puts("rd780-log " RD780_VERSION);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

    QCoreApplication app(argc, argv);
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("rd780-log: pipe");
        return 1;
    }
    // No SA_RESTART: a call blocked when the signal comes returns, and the loops that retry
    // an interrupted call ask stopRequested first.
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sa.sa_handler = onBackstop;
    sigaction(SIGALRM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN); // a closed reader of "--csv -" is a write error, not death

    int code = 0;
    std::string reason;
    bool ended = false;
    auto end = [&](int c, const std::string& why) {
        if (ended) return;
        ended = true;
        code = c;
        reason = why;
        app.exit(c);
    };

    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] {
        char buf[16];
        while (::read(signalPipe[0], buf, sizeof buf) > 0) {
        }
        end(0, {});
    });

    LogSession session(options, end);
    session.setStopRequested([] { return stopRequested != 0; });
    std::string error;
    if (!session.start(error)) {
        std::string ignored;
        session.finish(ignored);
        std::fprintf(stderr, "rd780-log: %s\n%s\n", error.c_str(), session.summary().c_str());
        return session.startFailure();
    }
    if (options.durationSeconds > 0)
        QTimer::singleShot(static_cast<int>(options.durationSeconds * 1000), &app,
                           [&] { end(0, {}); });
    if (!ended) app.exec();
    // After a signal the backstop allows under a second: the broker gets a moment, not five.
    if (stopRequested) session.hurry();

    if (!session.finish(error) && code == 0) {
        code = 1;
        reason = error;
    }
    if (code != 0) std::fprintf(stderr, "rd780-log: %s\n", reason.c_str());
    std::fprintf(stderr, "%s\n", session.summary().c_str());
    return code;
}
