#include "view/ChartPaging.h"

#include "base/Guard.h"

#include <algorithm>

namespace rd780::view {

int ChartPaging::pageCount(int maxPoints, int seriesCount) const {
    if (pointsPerPage_ < 1 || seriesCount < 1) return 1;
    const long long pages =
        (static_cast<long long>(std::max(maxPoints, 0)) + pointsPerPage_ - 1) / pointsPerPage_;
    return static_cast<int>(std::max(pages, 1LL));
}

void ChartPaging::setPage(int page, int maxPoints, int seriesCount) {
    page_ = std::clamp(page, 1, pageCount(maxPoints, seriesCount));
}

void ChartPaging::setPointsPerPage(int points, int maxPoints, int seriesCount) {
    if (points < 0) throw AppError("Invalid number of points per page");
    pointsPerPage_ = points;
    const int pages = pageCount(maxPoints, seriesCount);
    if (page_ > pages) page_ = pages;
}

ChartPaging::Window ChartPaging::window(int maxPoints) const {
    if (pointsPerPage_ < 1) return {0.0, static_cast<double>(std::max(maxPoints - 1, 1))};
    const double first = static_cast<double>(page_ - 1) * pointsPerPage_;
    // The axis needs a span: a page of one point is centred on it, so it shows no neighbour.
    if (pointsPerPage_ == 1) return {first - 0.5, first + 0.5};
    return {first, first + pointsPerPage_ - 1};
}

} // namespace rd780::view
