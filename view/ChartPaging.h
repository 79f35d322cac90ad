#pragma once
// Paging of the waveform chart: at most pointsPerPage points are shown at a time, pages
// count from 1, and the last page keeps the scale of a full page.
namespace rd780::view {

class ChartPaging {
public:
    int pointsPerPage() const { return pointsPerPage_; }
    int page() const { return page_; }

    // Pages for the given largest point count of the active series; 1 when paging is off
    // (points per page below 1) or there is no series.
    int pageCount(int maxPoints, int seriesCount = 1) const;
    // Clamps the request into 1 to the page count.
    void setPage(int page, int maxPoints, int seriesCount = 1);
    // A negative size is refused with an error; a page beyond the new count becomes the last.
    void setPointsPerPage(int points, int maxPoints, int seriesCount = 1);

    // Bottom-axis window of the current page, as point indexes: it holds exactly the page's
    // point positions. With paging off it spans every point.
    struct Window {
        double first;
        double last;
    };
    Window window(int maxPoints) const;

private:
    int pointsPerPage_ = 161;
    int page_ = 1;
};

} // namespace rd780::view
