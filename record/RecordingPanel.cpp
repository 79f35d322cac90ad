// The handlers run on the GUI thread only; the work is done by the classes in record/.
#include "record/RecordingPanel.h"

#include "record/GridFollow.h"
#include "record/RecordingSide.h"
#include "record/ReportLayout.h"
#include "record/TableExport.h"
#include "record/TimeOfDay.h"
#include "session/MeterSession.h"
#include "status/StatusFeed.h"
#include "view/KeyFilter.h"
#include "view/LimitMarks.h"
#include "view/TrendWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <climits>
#include <ctime>
#include <memory>

namespace rd780 {

namespace {

const char* const ReadingTableFile = "Kv400db.DB";
constexpr int64_t ReportPagesWithoutProgress = 100;

// Calls back on one kind of event of the watched object and lets the event go on.
class EventTap : public QObject {
public:
    EventTap(QEvent::Type type, std::function<void()> fn, QObject* parent)
        : QObject(parent), type_(type), fn_(std::move(fn)) {}

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == type_) fn_();
        return false;
    }

private:
    QEvent::Type type_;
    std::function<void()> fn_;
};

QFont pixelFont(const char* family, int px, bool bold = false, bool italic = false) {
    QFont f(QString::fromLatin1(family));
    f.setPixelSize(px);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

QString fromStd(const std::string& s) {
    return QString::fromStdString(s);
}
std::string toStd(const QString& s) {
    return s.toStdString();
}

// The reading columns keep their design widths; another table's columns get a plain width.
void setGridColumns(QTableView* grid, const ReadingTable& table) {
    if (table.hasReadingColumns()) {
        // The last column takes the room left beside the others, so its "AUTO" header shows.
        const int widths[] = {53, 60, 44, 56, 35, 50};
        const int columns = std::min<int>(6, int(table.columnNames().size()));
        for (int c = 0; c < columns; ++c)
            grid->setColumnWidth(c, widths[c]);
    } else {
        for (int c = 0; c < int(table.columnNames().size()); ++c)
            grid->setColumnWidth(c, 80);
    }
}

const QStringList SaveFilters = {"Excel File(*.xls)", "DB File(*.db)", "Txt File(*.txt)",
                                 "CSV (*.csv)", "All File(*)"};

// "xls" for "Excel File(*.xls)"; a filter without one ("All File(*)") gives the text
// export's "xls", as the dialog always did.
QString filterSuffix(const QString& filter) {
    const int star = filter.indexOf("*.");
    if (star < 0) return QStringLiteral("xls");
    QString suffix;
    for (int i = star + 2; i < filter.size() && filter[i].isLetterOrNumber(); ++i)
        suffix += filter[i];
    return suffix.isEmpty() ? QStringLiteral("xls") : suffix;
}

} // namespace

QString savedFileName(const SaveChoice& choice) {
    if (choice.name.isEmpty() || choice.filter.isEmpty() ||
        !QFileInfo(choice.name).suffix().isEmpty())
        return choice.name;
    QString name = choice.name;
    if (!name.endsWith('.')) name += '.';
    return name + filterSuffix(choice.filter);
}

RecordingPanel::RecordingPanel(const PanelContext& context, RecordState& record,
                               const ReadingState& reading, MeterSession& session,
                               const RecordMenu& menu, QObject* parent)
    : Panel(context, parent), S(record), reading_(reading), menu_(menu) {
    Rec = new RecordingSide(session.table(), session.rule(), this);
    connect(&session, &MeterSession::recordingChanged, this,
            [this](RecordingRule::Outcome outcome) { Guarded([&] { INDataToTable(outcome); }); });
    connect(&session, &MeterSession::recordingFailed, this,
            [this](const std::string& error) { RecordingFailed(error); });
    connect(&session, &MeterSession::sinkFailed, this,
            [this](const std::string& error) { ShowMessage(fromStd(error)); });
    // The sampling interval's countdown moved: the status bar tells it.
    connect(&session, &MeterSession::recordingTicked, this, [this] { refreshStatus(); });

    auto digitFilter = new view::KeyFilter(view::digitKeyAllowed, this);
    auto guardedChange = [this] { Guarded([this] { RecordSITimeChange(); }); };

    RepeatSet = new QCheckBox("Repeat", Client);
    RepeatSet->setObjectName("RepeatSet");
    RepeatSet->setToolTip("Repeage Record");
    RepeatSet->setGeometry(3, 181, 54, 20);
    RepeatSet->setFont(pixelFont("Arial", 10)); // the caption must fit its 54 pixels

    RecordSI = new QCheckBox("Sampling Interval            'S", Client);
    RecordSI->setObjectName("RecordSI");
    RecordSI->setGeometry(57, 181, 143, 20);
    RecordSI->setAutoFillBackground(true);
    // "Sampling Interval" must end before the edit laid over the caption, and "'S" start
    // after it: the blanks between are measured for this font.
    RecordSI->setFont(pixelFont("Arial", 10));
    RecordSI->setStyleSheet("QCheckBox { background: grey; color: white; }");

    RecordSITime = new QLineEdit("10", Client);
    RecordSITime->setObjectName("RecordSITime");
    RecordSITime->setGeometry(159, 182, 27, 21);
    RecordSITime->setStyleSheet("QLineEdit { background: silver; }");
    RecordSITime->installEventFilter(digitFilter);
    RecordSITime->raise(); // laid over the check box's caption
    connect(RecordSITime, &QLineEdit::textChanged, this, guardedChange);
    // The rule follows the boxes from the start and as they change, so the status and the
    // next reading see them.
    Rec->Rule.IntervalOn = RecordSI->isChecked();
    Rec->Rule.IntervalText = toStd(RecordSITime->text());
    Rec->Rule.RepeatOn = RepeatSet->isChecked();
    connect(RecordSI, &QCheckBox::toggled, this, [this](bool on) {
        Rec->Rule.IntervalOn = on;
        refreshStatus();
    });
    connect(RepeatSet, &QCheckBox::toggled, this, [this](bool on) {
        Rec->Rule.RepeatOn = on;
        refreshStatus();
    });

    auto speedButton = [this](const char* name, const char* hint, QStyle::StandardPixmap icon,
                              int x, int w) {
        auto* b = new QToolButton(Client);
        b->setObjectName(name);
        b->setToolTip(hint);
        b->setIcon(Client->style()->standardIcon(icon));
        b->setAutoRaise(true);
        b->setGeometry(x, 181, w, 21);
        return b;
    };
    RecordNew = speedButton("RecordNew", "Close Data", QStyle::SP_FileIcon, 248, 23);
    OpenDataFiles =
        speedButton("OpenDataFiles", "Open old data files", QStyle::SP_DialogOpenButton, 270, 23);
    saveas = speedButton("saveas", "Save data files", QStyle::SP_DialogSaveButton, 292, 23);
    BtPrint = speedButton("BtPrint", "Print", QStyle::SP_FileDialogDetailedView, 314, 22);
    connect(RecordNew, &QToolButton::clicked, this,
            [this] { Guarded([this] { RecordNewClick(); }); });
    connect(OpenDataFiles, &QToolButton::clicked, this,
            [this] { Guarded([this] { SpeedButton2Click(); }); });
    connect(saveas, &QToolButton::clicked, this, [this] { Guarded([this] { saveasClick(); }); });
    connect(BtPrint, &QToolButton::clicked, this, [this] { Guarded([this] { BtPrintClick(); }); });

    DBGrid1 = new ReadingGrid(Client);
    DBGrid1->setObjectName("DBGrid1");
    DBGrid1->setGeometry(3, 202, 334, 260);
    DBGrid1->setVerticalHeader(new GridRowHeader(DBGrid1));
    DBGrid1->setModel(Rec->Model);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    // Arrows move within the grid; Tab leaves it, which through thousands of rows it
    // otherwise never would.
    DBGrid1->setTabKeyNavigation(false);
    DBGrid1->setShowGrid(true);
    DBGrid1->setFont(pixelFont("Arial", 12));
    DBGrid1->setStyleSheet("QTableView { background: silver; }");
    // Fixed row heights let the view place any of millions of rows without measuring them.
    DBGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    DBGrid1->verticalHeader()->setDefaultSectionSize(18);
    DBGrid1->verticalHeader()->setFixedWidth(14);
    DBGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    GridFollow = new GridFollower(DBGrid1);
    connect(DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, Rec->Model,
            [this](const QModelIndex& current) { Rec->Model->setCurrentRow(current.row()); });
    connect(Rec->Model, &QAbstractItemModel::modelReset, DBGrid1,
            [this] { setGridColumns(DBGrid1, Rec->Table); });
    // On the grid itself, so it stays with it: whenever no table takes the readings.
    TableNote = new QLabel(DBGrid1);
    TableNote->setObjectName("TableNote");
    TableNote->setGeometry(2, DBGrid1->height() - 22, DBGrid1->width() - 4, 20);
    TableNote->setStyleSheet("QLabel { background: rgb(160,0,0); color: white; }");
    TableNote->hide();
    connect(Rec->Model, &QAbstractItemModel::modelReset, TableNote, [this] { ShowTableState(); });

    // The recall strip.
    Panel2 = new QFrame(Client);
    Panel2->setObjectName("Panel2");
    Panel2->setGeometry(-4, 470, 334, 26);
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel2->setStyleSheet("QFrame#Panel2 { background: silver; }");

    RecallCheck = new QCheckBox("RecallData", Panel2);
    RecallCheck->setObjectName("RecallCheck");
    RecallCheck->setToolTip("Repeage Record");
    RecallCheck->setGeometry(3, 3, 86, 20);
    RecallCheck->setFont(pixelFont("Arial", 12, true, true));
    connect(RecallCheck, &QCheckBox::clicked, this,
            [this] { Guarded([this] { RecallCheckClick(); }); });
    RecallCheck->installEventFilter(new EventTap(
        QEvent::FocusOut, [this] { Guarded([this] { RecallCheckExit(); }); }, this));

    auto label = [this](const char* text, int x) {
        auto* l = new QLabel(text, Panel2);
        l->setFont(pixelFont("Arial", 10)); // "StartTime:" has 55 pixels before TimeH
        l->move(x, 5);
        l->adjustSize();
    };
    auto timeEdit = [&](const char* name, const char* text, int x, int w) {
        auto* e = new QLineEdit(text, Panel2);
        e->setObjectName(name);
        e->setGeometry(x, 2, w, 21);
        e->setStyleSheet("QLineEdit { background: silver; }");
        e->installEventFilter(digitFilter);
        connect(e, &QLineEdit::textChanged, this, guardedChange);
        return e;
    };
    label("StartTime:", 88);
    TimeH = timeEdit("TimeH", "23", 143, 25);
    label(":", 169);
    TimeM = timeEdit("TimeM", "59", 175, 25);
    label(":", 201);
    TimeS = timeEdit("TimeS", "59", 207, 25);
    label("Interval", 238);
    TimeInt = timeEdit("TimeInt", "1", 284, 30);
    label("'S", 317);
    auto keyUp = new EventTap(
        QEvent::KeyRelease, [this] { Guarded([this] { TimeHKeyUp(); }); }, this);
    for (QLineEdit* e : {TimeH, TimeM, TimeS})
        e->installEventFilter(keyUp);

    RecallDataTest = new QPushButton("RecallData", Client);
    RecallDataTest->setObjectName("RecallDataTest");
    RecallDataTest->setGeometry(520, 0, 75, 25);
    RecallDataTest->hide();
    connect(RecallDataTest, &QPushButton::clicked, this,
            [this] { Guarded([this] { RecallDataTestClick(); }); });

    // The Record menu.
    connect(menu_.New1, &QAction::triggered, this,
            [this] { Guarded([this] { RecordNewClick(); }); });
    connect(menu_.Save1, &QAction::triggered, this, [this] { Guarded([this] { saveasClick(); }); });
    const std::pair<QAction*, void (RecordingPanel::*)()> limits[] = {
        {menu_.N10001, &RecordingPanel::N10001Click},
        {menu_.N50001, &RecordingPanel::N50001Click},
        {menu_.N100001, &RecordingPanel::N100001Click},
        {menu_.N500001, &RecordingPanel::N500001Click},
        {menu_.N1000001, &RecordingPanel::N1000001Click},
        {menu_.limitess, &RecordingPanel::limitessClick}};
    for (const auto& [action, handler] : limits) {
        auto h = handler;
        connect(action, &QAction::triggered, this,
                [this, h] { Guarded([this, h] { (this->*h)(); }); });
    }
}

void RecordingPanel::OpenReadingTable() {
    const QString path = QDir::current().absoluteFilePath(ReadingTableFile);
    // The file's date before this run appends to it dates its older rows.
    const CivilDate date = fileDate(path.toStdString());
    const auto outcome = Rec->Table.openOrCreate(path.toStdString());
    Dating.tableOpened(date, Rec->Table.rowCount());
    if (outcome == ReadingTable::OpenOutcome::ReplacedEmpty)
        AddHistoryLine(QStringLiteral("%1 was empty (0 bytes); a new empty reading table "
                                      "took its place")
                           .arg(path));
    Rec->FullReported = false;
    Rec->Model->reload();
    refreshStatus();
}

void RecordingPanel::OpenReadingTableAtStart() {
    // A table that cannot be opened stops recording, not the rest of the start: the note
    // on the grid keeps saying so until a table is opened.
    try {
        OpenReadingTable();
    } catch (const std::exception& e) {
        Rec->TableProblem = QString::fromUtf8(e.what());
        ShowTableState();
        AddHistoryLine("Readings are not being recorded: " + Rec->TableProblem);
        ShowMessage(Rec->TableProblem);
    }
}

void RecordingPanel::ShowTableState() {
    if (!TableNote) return;
    if (Rec->Table.isOpen()) {
        Rec->TableProblem.clear();
        TableNote->hide();
        return;
    }
    TableNote->setText("Readings are not being recorded: " +
                       (Rec->TableProblem.isEmpty() ? QStringLiteral("no reading table is open")
                                                    : Rec->TableProblem));
    TableNote->setToolTip(TableNote->text());
    TableNote->show();
    TableNote->raise();
}

void RecordingPanel::CloseReadingTable() {
    if (!Rec) return;
    Rec->Table.close();
    Rec->Model->reload();
}

void RecordingPanel::refreshStatus() {
    if (Status) Status->refresh();
}

void RecordingPanel::INDataToTable(RecordingRule::Outcome outcome) {
    refreshStatus();
    if (outcome == RecordingRule::Outcome::TableFull && !Rec->FullReported) {
        Rec->FullReported = true;
        ShowMessage("The reading table is full; recording has stopped. Choose New or open "
                    "another table to go on.");
    }
    if (outcome != RecordingRule::Outcome::Recorded) return;
    Dating.rowAppended(Rec->Table.rowCount() - 1, localDate(std::time(nullptr)));
    Rec->LastError.clear();
    Rec->Model->refresh();
}

void RecordingPanel::RecordingFailed(const std::string& error) {
    refreshStatus();
    // Frames keep coming while the table or the interval is wrong: one box per error, not
    // one per frame.
    if (Rec->LastError == error) return;
    Rec->LastError = error;
    ShowMessage(QString::fromUtf8(error.c_str()));
}

int32_t RecordingPanel::RowTimeOfDay() const {
    return timeOfDayMs(RecallCheck->isChecked() ? S.RecallTime : nowTimeOfDay());
}

void RecordingPanel::RecordSITimeChange() {
    Rec->Rule.IntervalText = toStd(RecordSITime->text());
    Rec->Rule.reloadCountdown();
    refreshStatus();
}

void RecordingPanel::RecordNewClick() {
    // A whole recording is one click away: ask before emptying a table that holds rows.
    if (!askAndStartNewRecording(Client->window(), Rec->Rule, Rec->Table, Question)) return;
    ShowMessage(" Record deleted ");
    Dating.tableEmptied();
    Rec->FullReported = false;
    Rec->LastError.clear();
    Rec->Model->reload();
    refreshStatus();
}

void RecordingPanel::chooseLimit(int index) {
    QAction* items[] = {menu_.N10001,  menu_.N50001,   menu_.N100001,
                        menu_.N500001, menu_.N1000001, menu_.limitess};
    Rec->Rule.RecordLimit = RecordLimits[index];
    for (int i = 0; i < 6; ++i)
        items[i]->setChecked(i == index);
    refreshStatus();
}

void RecordingPanel::N10001Click() {
    chooseLimit(0);
}
void RecordingPanel::N50001Click() {
    chooseLimit(1);
}
void RecordingPanel::N100001Click() {
    chooseLimit(2);
}
void RecordingPanel::N500001Click() {
    chooseLimit(3);
}
void RecordingPanel::N1000001Click() {
    chooseLimit(4);
}
void RecordingPanel::limitessClick() {
    chooseLimit(5);
}

void RecordingPanel::RecallCheckClick() {
    const bool on = RecallCheck->isChecked();
    TimeH->setText(on ? "00" : "23");
    TimeM->setText(on ? "00" : "59");
    TimeS->setText(on ? "00" : "59");
    RecallCheckExit();
}

void RecordingPanel::RecallCheckExit() {
    Rec->Recall.load(toStd(TimeH->text()), toStd(TimeM->text()), toStd(TimeS->text()));
}

void RecordingPanel::TimeHKeyUp() {
    RecallClock& c = Rec->Recall;
    const std::pair<QLineEdit*, std::pair<int, int32_t*>> edits[] = {
        {TimeH, {23, &c.Hour}}, {TimeM, {59, &c.Minute}}, {TimeS, {59, &c.Second}}};
    for (const auto& [edit, check] : edits) {
        if (RecallClock::checkEdit(toStd(edit->text()), check.first, *check.second)) continue;
        ShowMessage("Input error!");
        edit->setText("00");
    }
}

void RecordingPanel::RecallDataTestClick() {
    S.RecallTime =
        RecallCheck->isChecked() ? Rec->Recall.advance(toStd(TimeInt->text())) : nowDateTime();
    ReadingRow row;
    row.No = Rec->Rule.RecordNo;
    row.TimeMs = timeOfDayMs(S.RecallTime);
    row.Coupling = reading_.ReadingCoupling;
    row.Value = reading_.ReadingText;
    row.Unit = reading_.ReadingUnit;
    row.Auto = reading_.ReadingAuto;
    row.Nval = reading_.ReadingValue;
    // The number is used up even if the table refuses the row.
    ++Rec->Rule.RecordNo;
    Rec->Table.appendReading(row);
    Dating.rowAppended(Rec->Table.rowCount() - 1, localDate(std::time(nullptr)));
    Rec->Model->refresh();
    refreshStatus();
}

void RecordingPanel::SpeedButton2Click() {
    QString name =
        OpenDialogHook
            ? OpenDialogHook()
            : QFileDialog::getOpenFileName(Client->window(), "Open", QString(),
                                           "access data files (*.DB *.db);;All files (*)");
    if (name.isEmpty()) return;
    // The path is used as chosen: names are case-sensitive here.
    const CivilDate date = fileDate(name.toStdString());
    Rec->Table.open(name.toStdString());
    Dating.tableOpened(date, Rec->Table.rowCount());
    Rec->FullReported = false;
    Rec->LastError.clear();
    Rec->Model->reload();
    refreshStatus();
}

void RecordingPanel::saveasClick() {
    SaveChoice choice;
    if (SaveDialogHook) {
        choice = SaveDialogHook();
    } else {
        QFileDialog dialog(Client->window(), "Save");
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilters(SaveFilters);
        // The dialog adds the chosen filter's suffix itself, so that it asks before
        // overwriting the file that is really written.
        dialog.setDefaultSuffix(filterSuffix(SaveFilters.first()));
        connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
            dialog.setDefaultSuffix(filterSuffix(filter));
        });
        dialog.selectFile(QString());
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            choice = {dialog.selectedFiles().first(), dialog.selectedNameFilter()};
    }
    const QString name = savedFileName(choice);
    if (name.isEmpty()) return;
    if (isCsvFileName(name.toStdString())) {
        ExportTableAsCsv(name);
        return;
    }
    // Any case of ".db" gets a table, so a file named like a table never receives text.
    if (isTableFileName(name.toStdString()))
        ExportTableAsParadox(name);
    else
        ExportTableAsText(name);
}

void RecordingPanel::ExportTableAsText(const QString& FileName) {
    std::string error;
    if (!writeTableText(Rec->Table, FileName.toStdString(), &error)) {
        ShowMessage("Could not save table to specified file: " + FileName);
        return;
    }
    Rec->Model->refresh();
    ShowMessage("save table to specified file: " + FileName + " Scuss!");
}

void RecordingPanel::ExportTableAsCsv(const QString& FileName) {
    std::string error;
    if (!writeTableCsv(Rec->Table, FileName.toStdString(), Dating, &error)) {
        ShowMessage("Could not save table to specified file: " + FileName + " (" +
                    QString::fromStdString(error) + ")");
        return;
    }
    ShowMessage("save table to specified file: " + FileName + " Scuss!");
}

void RecordingPanel::PlotTable(view::TrendWindow& trend) {
    if (!Rec->Table.isOpen()) {
        ShowMessage("No reading table is open.");
        return;
    }
    trend.loadTable(Rec->Table, Dating);
}

void RecordingPanel::ExportTableAsParadox(const QString& FileName) {
    try {
        writeTableCopy(Rec->Table, FileName.toStdString());
    } catch (const std::exception& e) {
        ShowMessage("Could not save table to specified file: " + FileName + " (" +
                    QString::fromUtf8(e.what()) + ")");
        return;
    }
    ShowMessage("save table to specified file: " + FileName + " Scuss!");
}

void RecordingPanel::BtPrintClick() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setFullPage(true);
    QPrintPreviewDialog preview(&printer, Client->window());
    preview.setObjectName("DataReport1");
    connect(&preview, &QPrintPreviewDialog::paintRequested, this, [this, &preview](QPrinter* p) {
        Guarded([this, p, &preview] {
            // A long table takes a while to lay out: show how far it got and let the user
            // stop, keeping the pages made so far, rather than freeze.
            const int64_t pages = ReportLayout(Rec->Table.rowCount()).pageCount();
            std::unique_ptr<QProgressDialog> bar;
            if (pages > ReportPagesWithoutProgress) {
                bar = std::make_unique<QProgressDialog>("Preparing the report...", "Stop", 0,
                                                        int(std::min<int64_t>(pages, INT_MAX)),
                                                        &preview);
                bar->setWindowModality(Qt::WindowModal);
                bar->setMinimumDuration(0);
            }
            renderReport(Rec->Table, *p, [&bar](int64_t done, int64_t) {
                if (!bar || done % 20 != 0) return true;
                bar->setValue(int(std::min<int64_t>(done, INT_MAX)));
                QCoreApplication::processEvents();
                return !bar->wasCanceled();
            });
        });
    });
    if (PreviewHook)
        PreviewHook(&preview);
    else
        preview.exec();
}

} // namespace rd780
