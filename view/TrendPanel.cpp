#include "view/TrendPanel.h"

#include "view/TrendWindow.h"

#include <QAction>
#include <QDateTime>
#include <QMenu>
#include <QMenuBar>
#include <QToolButton>
#include <QWidget>

namespace rd780 {

TrendPanel::TrendPanel(const PanelContext& context, QMenuBar* menuBar, QAction* before,
                       QWidget* buttonHost, QObject* parent)
    : Panel(context, parent) {
    View1 = new QMenu("&View", menuBar);
    View1->setObjectName("View1");
    menuBar->insertMenu(before, View1);
    Trend1 = View1->addAction("&Trend");
    Trend1->setObjectName("Trend1");
    PlotTable1 = View1->addAction("&Plot table");
    PlotTable1->setObjectName("PlotTable1");
    View1->addSeparator();
    AlarmSound1 = View1->addAction("&Alarm sound");
    AlarmSound1->setObjectName("AlarmSound1");
    AlarmSound1->setCheckable(true);
    AlarmSound1->setChecked(false);

    TrendBtn = new QToolButton(buttonHost ? buttonHost : Client);
    TrendBtn->setObjectName("TrendBtn");
    TrendBtn->setText("Trend");
    TrendBtn->setToolTip("Readings against time, with statistics");
    TrendBtn->setAutoRaise(true);
    TrendBtn->setGeometry(254, 26, 69, 21);

    // Made now, hidden: the trend and statistics run from Connect, not from the first look.
    Trend = new view::TrendWindow();
    Trend->setObjectName("TrendWindow");

    connect(Trend1, &QAction::triggered, this, [this] { Guarded([this] { TrendClick(); }); });
    connect(TrendBtn, &QToolButton::clicked, this, [this] { Guarded([this] { TrendClick(); }); });
    connect(PlotTable1, &QAction::triggered, this,
            [this] { Guarded([this] { PlotTableClick(); }); });
    connect(AlarmSound1, &QAction::toggled, this, [this](bool on) {
        Guarded([this, on] {
            if (AlarmSoundChanged) AlarmSoundChanged(on);
        });
    });
}

TrendPanel::~TrendPanel() {
    // A top-level window of its own: it goes with the panel.
    delete Trend;
}

void TrendPanel::TrendClick() {
    // The session's trend, also after a table was plotted.
    if (Trend->showingTable()) Trend->showSession();
    Trend->show();
    Trend->raise();
}

void TrendPanel::PlotTableClick() {
    Trend->show();
    Trend->raise();
    if (LoadTable) LoadTable(*Trend);
}

void TrendPanel::addReading(const std::string& text, const std::string& unit) {
    Trend->addReading(QDateTime::currentMSecsSinceEpoch(), text, unit);
}

void TrendPanel::limitsChanged() {
    Trend->setLimits(HighLimit ? HighLimit() : std::nullopt, LowLimit ? LowLimit() : std::nullopt);
}

void TrendPanel::resetStatistics() {
    Trend->resetStatistics();
}

} // namespace rd780
