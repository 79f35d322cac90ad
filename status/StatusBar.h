#pragma once
// The window's status bar: the link, the table and the recording state, each in its own
// part whose accessible name is its text. Texts are given as often as frames come; the
// parts change only when a text does, and at most twice a second.
#include "status/StatusTexts.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>

#include <vector>

namespace rd780 {

// A part that shows as much of its text as fits (eliding in the middle, where a long path
// has the least to lose) and never widens the window.
class StatusPart : public QLabel {
    Q_OBJECT
public:
    explicit StatusPart(const char* name, QWidget* parent = nullptr);
    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }
    // The text drawn: the full text, elided to fit.
    const QString& shownText() const { return shown_; }
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void elide();
    bool surelyFits(const QString& text, int room);
    QSize textSize(const QString& text) const;
    std::vector<int> advances_; // of the printable ASCII characters in the part's font
    QString full_;
    QString shown_;
    QSize labelTextSize_; // of the label's own text, which sizes the part
};

class StatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit StatusBar(QWidget* parent = nullptr);

    // Shows texts now, or with the first call after the quiet interval has passed (by
    // LatestMs at the latest); a later call before then replaces the texts waiting.
    void setTexts(const StatusTexts& texts);
    // The texts on screen.
    StatusTexts shownTexts() const;
    // Times the parts were changed (for tests and benchmarks).
    int applyCount() const { return applies_; }
    // True while changed texts wait for the quiet interval to pass.
    bool pending() const { return later_.isActive(); }

    StatusPart* linkPart() const { return link_; }
    StatusPart* tablePart() const { return table_; }
    StatusPart* recordingPart() const { return recording_; }
    // A limit crossing, shown beside the three parts for a while; they stay in view.
    void showAlarm(const QString& line, int ms = AlarmShownMs);
    StatusPart* alarmPart() const { return alarm_; }

    static constexpr int AlarmShownMs = 10000;

    static constexpr int MinIntervalMs = 500;
    static constexpr int LatestMs = 2 * MinIntervalMs;

private:
    void apply();

    StatusPart* link_;
    StatusPart* table_;
    StatusPart* recording_;
    StatusPart* alarm_;
    QTimer alarmShown_;
    StatusTexts shown_;
    StatusTexts pending_;
    QElapsedTimer sinceApply_;
    QTimer later_;
    int applies_ = 0;
};

} // namespace rd780
