#include "record/LimitPanel.h"

#include "meter/core/UnitSymbols.h"
#include "record/TimeOfDay.h"
#include "view/KeyFilter.h"
#include "view/LimitMarks.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>

namespace rd780 {

namespace {

QLabel* fixedLabel(QWidget* parent, const char* name, const QString& text, int x, int y,
                   const QFont& font) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setFont(font);
    l->adjustSize();
    l->move(x, y);
    return l;
}

} // namespace

LimitPanel::LimitPanel(const PanelContext& context, LimitState& limits, QObject* parent)
    : Panel(context, parent), S(limits) {
    auto* panel = new QFrame(Client);
    panel->setObjectName("Panel3");
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, QColor(192, 192, 192));
    panel->setPalette(pal);
    panel->setAutoFillBackground(true);
    panel->setGeometry(-13, 487, 334, 48);
    Panel3 = panel;

    SetMaxB = new QCheckBox("SetMax:", panel);
    SetMaxB->setObjectName("SetMaxB");
    SetMaxB->setGeometry(180, 6, 68, 17);
    Setmax = new QLineEdit("40000", panel);
    Setmax->setObjectName("Setmax");
    Setmax->setGeometry(248, 3, 81, 21);
    SetMinB = new QCheckBox("SetMin: ", panel);
    SetMinB->setObjectName("SetMinB");
    SetMinB->setGeometry(180, 27, 65, 17);
    SetMin = new QLineEdit("-40000", panel);
    SetMin->setObjectName("SetMin");
    SetMin->setGeometry(248, 25, 81, 21);

    // Fixed captions; the unit code is shown as its symbol.
    QFont symbolFont = Client->font();
    symbolFont.setBold(true);
    QFont numberFont("Arial");
    numberFont.setPixelSize(14);
    numberFont.setItalic(true);
    const QString ohm = QString::fromStdString(unitSymbols("*"));
    // The panel starts 13 pixels left of the client area: the captions start where it shows.
    Label11 = fixedLabel(panel, "Label11", "MIN: ", 13, 8, symbolFont);
    MinText = fixedLabel(panel, "MinText", "40001", 56, 8, numberFont);
    MinTextU = fixedLabel(panel, "MinTextU", ohm, 112, 8, symbolFont);
    Label12 = fixedLabel(panel, "Label12", "MAX: ", 13, 27, symbolFont);
    MaxText = fixedLabel(panel, "MaxText", "-40001", 48, 27, numberFont);
    MaxTextU = fixedLabel(panel, "MaxTextU", ohm, 112, 27, symbolFont);

    for (QLineEdit* e : {Setmax, SetMin})
        e->installEventFilter(new view::KeyFilter(view::limitKeyAllowed, e));
    connect(Setmax, &QLineEdit::textChanged, this, [this] { Guarded([this] { SetmaxExit(); }); });
    connect(SetMaxB, &QCheckBox::clicked, this, [this] { Guarded([this] { SetmaxExit(); }); });
    connect(SetMin, &QLineEdit::textChanged, this, [this] { Guarded([this] { SetMinExit(); }); });
    connect(SetMinB, &QCheckBox::clicked, this, [this] { Guarded([this] { SetMinExit(); }); });
}

bool LimitPanel::highOn() const {
    return SetMaxB->isChecked();
}

bool LimitPanel::lowOn() const {
    return SetMinB->isChecked();
}

void LimitPanel::SetmaxExit() {
    // A text that does not convert ends here: the limit and the face stay as they were.
    S.LimitHigh = view::limitFromText(Setmax->text().toStdString());
    limitsChanged();
}

void LimitPanel::SetMinExit() {
    S.LimitLow = view::limitFromText(SetMin->text().toStdString());
    limitsChanged();
}

std::optional<double> LimitPanel::highLimit() const {
    return highOn() ? std::optional<double>(S.LimitHigh) : std::nullopt;
}

std::optional<double> LimitPanel::lowLimit() const {
    return lowOn() ? std::optional<double>(S.LimitLow) : std::nullopt;
}

void LimitPanel::limitsChanged() {
    Alarm.setLimits({S.LimitHigh, S.LimitLow, highOn(), lowOn()});
    // Unticking a limit clears the frame at once, not at the next reading.
    if (!Alarm.beyond() && AlarmFrame) AlarmFrame(false);
    if (LimitsChanged) LimitsChanged();
}

void LimitPanel::OfferAlarm(float value, const std::string& text, const std::string& unit) {
    if (auto side = Alarm.offer(value, text)) {
        const QString line = QString::fromStdString(
            crossingText(*side, formatTimeOfDay(timeOfDayMs(nowTimeOfDay())), text, unit));
        AddHistoryLine(line);
        if (ShowStatus) ShowStatus(line);
        if (AlarmSound) QApplication::beep();
    }
    if (AlarmFrame) AlarmFrame(Alarm.beyond());
}

} // namespace rd780
