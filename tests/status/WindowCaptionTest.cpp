// Every caption of the main window shows whole, at the start size and at the full height
// that shows the lower strip.
#include "link/serial/SerialLinkPanel.h"
#include "meter/MeterPanel.h"
#include "tests/app/WindowFixture.h"
#include "tests/status/CaptionFit.h"

#include <QMenuBar>

#include <gtest/gtest.h>

namespace rd780::test {
namespace {

TEST(WindowCaptions, EveryCaptionShowsWholeAtTheStartSize) {
    WindowFixture f;
    f.w->show();
    const auto clipped = findClippedCaptions(f.w.get());
    EXPECT_TRUE(clipped.empty()) << describe(clipped).toStdString();
}

TEST(WindowCaptions, EveryCaptionShowsWholeAtFullHeightWithRows) {
    ProgramOptions options;
    options.serialPort = "/nonexistent/ttyRD780";
    WindowFixture f(options);
    TFCOMM& w = *f.w;
    w.Serial->BTCon1Click(); // fails: the note beside the panel says why
    w.resize(w.width(), w.MainMenu1->sizeHint().height() + 596);
    w.show();
    for (int i = 0; i < 30; ++i)
        w.Meter->Button4Click(); // the test frame, recorded: the grid gets its scroll bar
    const auto clipped = findClippedCaptions(&w);
    EXPECT_TRUE(clipped.empty()) << describe(clipped).toStdString();
}

} // namespace
} // namespace rd780::test
