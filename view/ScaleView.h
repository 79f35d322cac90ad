#pragma once
// The analog scale in the window: the panel KD with its face, pointer and enlarge button.
#include "panel/ModuleState.h"
#include "panel/Panel.h"

#include <QSize>

#include <functional>

namespace rd780 {

namespace view {
class ScalePanel;
}

class ScaleView : public Panel {
    Q_OBJECT
public:
    ScaleView(const PanelContext& context, const ScaleState& scale, const LimitState& limits,
              QObject* parent);

    QWidget* KD = nullptr;               // the scale panel; the core places icons on it
    view::ScalePanel* KdPanel = nullptr; // the same panel, with KD1, KdFd and KdSx

    // Whether each limit mark is switched on (high, low).
    std::function<bool()> HighLimitOn;
    std::function<bool()> LowLimitOn;
    // The window's visible client area, which the enlarged scale fills.
    std::function<QSize()> VisibleArea;
    // The chart below is hidden while the scale is enlarged.
    std::function<void(bool)> ShowChart;

    void KDsetup(int mode);
    void KDrun(int value);
    void KdFdClick();
    void KDResize();

private:
    const ScaleState& scale_;
    const LimitState& limits_;
};

} // namespace rd780
