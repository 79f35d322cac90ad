#pragma once
// Recording in the window: the reading table and its grid, the recording rule's controls,
// the recall strip, the Record menu and the data files (open, save, print).
#include "panel/ModuleState.h"
#include "panel/Panel.h"
#include "record/CsvExport.h"
#include "record/NewQuestion.h"
#include "record/RecordingRule.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <string>

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;
class QToolButton;

namespace rd780 {

class GridFollower;
class MeterSession;
class RecordingSide;
namespace view {
class TrendWindow;
}

// What the save dialog returned: the name, and the filter chosen beside it.
struct SaveChoice {
    SaveChoice(QString name = {}, QString filter = {})
        : name(std::move(name)), filter(std::move(filter)) {}
    QString name;
    QString filter; // empty: the name alone decides
};

// The file a save writes: a name without an extension takes the chosen filter's ("CSV
// (*.csv)" makes NAME.csv); a name with one keeps it, and its extension decides the type.
QString savedFileName(const SaveChoice& choice);

// The Record menu's items, which the window owns and this panel answers.
struct RecordMenu {
    QAction* New1 = nullptr;
    QAction* Save1 = nullptr;
    QAction* N10001 = nullptr;
    QAction* N50001 = nullptr;
    QAction* N100001 = nullptr;
    QAction* N500001 = nullptr;
    QAction* N1000001 = nullptr;
    QAction* limitess = nullptr;
};

class RecordingPanel : public Panel {
    Q_OBJECT
public:
    // Rows are recorded by session, into its table under its rule; this panel sets the
    // rule's controls and shows what the session announces.
    RecordingPanel(const PanelContext& context, RecordState& record, const ReadingState& reading,
                   MeterSession& session, const RecordMenu& menu, QObject* parent);

    RecordingSide* Rec = nullptr; // reading table, recording rule, recall clock, grid model
    TableDating Dating;           // the date of each row, for the CSV and the trend plot
    QCheckBox* RepeatSet = nullptr;
    QCheckBox* RecordSI = nullptr;
    QLineEdit* RecordSITime = nullptr;
    QToolButton* RecordNew = nullptr;
    QToolButton* OpenDataFiles = nullptr;
    QToolButton* saveas = nullptr;
    QToolButton* BtPrint = nullptr;
    QTableView* DBGrid1 = nullptr;
    GridFollower* GridFollow = nullptr; // moves the grid to new rows while its end is in view
    QFrame* Panel2 = nullptr;
    QCheckBox* RecallCheck = nullptr;
    QLineEdit* TimeH = nullptr;
    QLineEdit* TimeM = nullptr;
    QLineEdit* TimeS = nullptr;
    QLineEdit* TimeInt = nullptr;
    QPushButton* RecallDataTest = nullptr;
    // Stand-ins for the file dialogs and the preview (tests): a path, or empty to cancel.
    std::function<QString()> OpenDialogHook;
    std::function<SaveChoice()> SaveDialogHook;
    std::function<void(QWidget* preview)> PreviewHook;
    // Answers New's question instead of a box (tests); empty: the box.
    QuestionHook Question;

    void OpenReadingTable();
    void OpenReadingTableAtStart();
    QLabel* TableNote = nullptr; // on the grid while readings are not being recorded
    void ShowTableState();
    void CloseReadingTable();
    // What the session did with a reading offered for recording.
    void INDataToTable(RecordingRule::Outcome outcome);
    // A reading the table refused, or the interval text that does not convert.
    void RecordingFailed(const std::string& error);
    // The time of day a row gets: the recall clock's while recalling, else the clock's.
    int32_t RowTimeOfDay() const;
    void RecordSITimeChange();
    void RecordNewClick();
    void N10001Click();
    void N50001Click();
    void N100001Click();
    void N500001Click();
    void N1000001Click();
    void limitessClick();
    void RecallCheckClick();
    void RecallCheckExit();
    void TimeHKeyUp();
    void RecallDataTestClick();
    void SpeedButton2Click();
    void saveasClick();
    void ExportTableAsText(const QString& FileName);
    void ExportTableAsCsv(const QString& FileName);
    // Plots the open table, dated as the CSV export dates it.
    void PlotTable(view::TrendWindow& trend);
    void ExportTableAsParadox(const QString& FileName);
    void BtPrintClick();

private:
    void chooseLimit(int index);
    void refreshStatus();
    RecordState& S;
    const ReadingState& reading_;
    const RecordMenu menu_;
};

} // namespace rd780
