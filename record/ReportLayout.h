#pragma once
// The printed report of the reading table: A4 portrait with 10 mm margins, a page header,
// a column header, one detail line per row and a page footer on every page. Positions are
// in millimetres from the top-left corner of the paper.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QPainter;
class QPagedPaintDevice;

namespace rd780 {

class ReadingTable;

enum class ReportFont { Base, Arial };

struct ReportText {
    double xMm = 0;
    double yMm = 0;
    std::string text; // UTF-8, unit codes already turned into symbols
    ReportFont font = ReportFont::Base;
};

class ReportLayout {
public:
    static constexpr double PageWidth = 210.0;
    static constexpr double PageHeight = 297.0;
    static constexpr double Margin = 10.0;
    static constexpr double PageHeaderHeight = 10.6;
    static constexpr double ColumnHeaderHeight = 10.6;
    static constexpr double DetailHeight = 6.6;
    static constexpr double PageFooterHeight = 10.6;

    explicit ReportLayout(int64_t rows) : rows_(rows) {}

    int rowsPerPage() const;
    // No page at all for an empty table.
    int64_t pageCount() const;

    // The six display texts of a row: No, Time, DC/AC, Value, Unit (codes), AUTO.
    using RowSource = std::function<std::vector<std::string>(int64_t row)>;
    std::vector<ReportText> page(int64_t index, const RowSource& rows) const;

private:
    int64_t rows_;
};

// Paints one laid-out page with dotsPerMm device pixels per millimetre.
void paintReportPage(QPainter& painter, const std::vector<ReportText>& texts, double dotsPerMm);

// Told after each painted page; returns false to stop there (the pages painted so far stay).
using ReportProgress = std::function<bool(int64_t pagesDone, int64_t pageCount)>;

// Renders the whole report of the table onto a printer or PDF writer (A4, full page).
// An empty table paints nothing. Throws if the device cannot be painted on.
void renderReport(const ReadingTable& table, QPagedPaintDevice& device,
                  const ReportProgress& progress = {});

} // namespace rd780
