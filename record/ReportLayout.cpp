#include "record/ReportLayout.h"

#include "base/Guard.h"
#include "meter/core/UnitSymbols.h"
#include "record/ReadingTable.h"

#include <QFont>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>

#include <cmath>

namespace rd780 {

namespace {
constexpr double UsableHeight = ReportLayout::PageHeight - 2 * ReportLayout::Margin;

struct Column {
    double headerX;
    double detailX;
    ReportFont headerFont;
    ReportFont detailFont;
};
// No, Time, DC/AC, Value, Unit, AUTO.
constexpr Column Columns[6] = {
    {8.5, 8.5, ReportFont::Base, ReportFont::Arial},
    {33.9, 33.9, ReportFont::Base, ReportFont::Arial},
    {64.3, 65.6, ReportFont::Arial, ReportFont::Arial},
    {99.5, 99.5, ReportFont::Base, ReportFont::Arial},
    {132.3, 131.2, ReportFont::Base, ReportFont::Base},
    {163.0, 163.0, ReportFont::Base, ReportFont::Base},
};
const char* const Headers[6] = {"No", "Time", "DC/AC", "Value", "Unit", "AUTO"};
constexpr int UnitColumn = 4;

QFont reportFont(ReportFont f) {
    QFont font;
    // The meter's segment font is rarely installed; a plain sans face stands in for it.
    if (f == ReportFont::Base)
        font.setFamilies({QStringLiteral("VELT-A2"), QStringLiteral("Liberation Sans"),
                          QStringLiteral("DejaVu Sans")});
    else
        font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                          QStringLiteral("DejaVu Sans")});
    font.setPointSizeF(10.0);
    return font;
}
} // namespace

int ReportLayout::rowsPerPage() const {
    double room = UsableHeight - PageHeaderHeight - ColumnHeaderHeight - PageFooterHeight;
    return int(std::floor(room / DetailHeight + 1e-9));
}

int64_t ReportLayout::pageCount() const {
    if (rows_ <= 0) return 0;
    return (rows_ + rowsPerPage() - 1) / rowsPerPage();
}

std::vector<ReportText> ReportLayout::page(int64_t index, const RowSource& rows) const {
    std::vector<ReportText> out;
    if (index < 0 || index >= pageCount()) return out;
    const double left = Margin;
    double y = Margin;
    out.push_back({left + 77.3, y + 2.1, "The Data Print Title", ReportFont::Base});
    y += PageHeaderHeight;
    for (int c = 0; c < 6; ++c)
        out.push_back({left + Columns[c].headerX, y + 4.2, Headers[c], Columns[c].headerFont});
    y += ColumnHeaderHeight;
    const int64_t first = index * rowsPerPage();
    const int64_t last = std::min(rows_, first + rowsPerPage());
    for (int64_t r = first; r < last; ++r) {
        std::vector<std::string> texts = rows(r);
        texts.resize(6);
        for (int c = 0; c < 6; ++c) {
            std::string t = c == UnitColumn ? unitSymbols(texts[size_t(c)]) : texts[size_t(c)];
            if (!t.empty())
                out.push_back({left + Columns[c].detailX, y + 2.1, t, Columns[c].detailFont});
        }
        y += DetailHeight;
    }
    // The footer sits at the foot of every page, the last one included.
    double footerTop = PageHeight - Margin - PageFooterHeight;
    out.push_back({left + 8.5, footerTop + 4.2, "The Data Print Foot", ReportFont::Base});
    return out;
}

void paintReportPage(QPainter& painter, const std::vector<ReportText>& texts, double dotsPerMm) {
    painter.save();
    painter.setPen(Qt::black);
    const QFont base = reportFont(ReportFont::Base);
    const QFont arial = reportFont(ReportFont::Arial);
    for (const ReportText& t : texts) {
        painter.setFont(t.font == ReportFont::Base ? base : arial);
        QRectF box(t.xMm * dotsPerMm, t.yMm * dotsPerMm, 200 * dotsPerMm, 8 * dotsPerMm);
        painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
                         QString::fromStdString(t.text));
    }
    painter.restore();
}

void renderReport(const ReadingTable& table, QPagedPaintDevice& device,
                  const ReportProgress& progress) {
    ReportLayout layout(table.isOpen() ? table.rowCount() : 0);
    if (layout.pageCount() == 0) return;
    for (const auto& name : ReadingColumns)
        table.table().requireField(name);
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
    QPainter painter;
    if (!painter.begin(&device)) throw AppError("Could not start printing the report");
    // Full page: the painter's origin is the paper's corner.
    const double dotsPerMm = device.logicalDpiX() / 25.4;
    auto rows = [&](int64_t r) { return table.displayRow(uint32_t(r), true); };
    for (int64_t p = 0; p < layout.pageCount(); ++p) {
        if (p > 0) device.newPage();
        paintReportPage(painter, layout.page(p, rows), dotsPerMm);
        if (progress && !progress(p + 1, layout.pageCount())) break;
    }
    painter.end();
}

} // namespace rd780
