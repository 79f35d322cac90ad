#pragma once
// What the two link panels share: the window's watch over the link in use, which they
// tell when a link connects, stops or loses its device, and which the lamp shows.
#include "link/LinkWatch.h"
#include "panel/Panel.h"

#include <functional>

namespace rd780 {

// Wired by the window to whoever shows the watch's state.
struct LinkHooks {
    std::function<void(LinkKind)> WatchConnected;
    std::function<void(LinkKind)> WatchDisconnected;
    std::function<void()> ShowLinkState;
    // The link's toggle went down: the other link's toggles come up without running their
    // handlers (one toggle group across both link panels).
    std::function<void()> ReleaseOtherLink;
};

class LinkPanel : public Panel {
    Q_OBJECT
public:
    LinkPanel(const PanelContext& context, LinkWatch& watch, QObject* parent)
        : Panel(context, parent), Watch(watch) {}

    LinkWatch& Watch; // the window's; read here, changed through the hooks
    LinkHooks Hooks;

protected:
    void WatchConnected(LinkKind kind) {
        if (Hooks.WatchConnected) Hooks.WatchConnected(kind);
    }
    void WatchDisconnected(LinkKind kind) {
        if (Hooks.WatchDisconnected) Hooks.WatchDisconnected(kind);
    }
    void ShowLinkState() {
        if (Hooks.ShowLinkState) Hooks.ShowLinkState();
    }
    void ReleaseOtherLink() {
        if (Hooks.ReleaseOtherLink) Hooks.ReleaseOtherLink();
    }
};

} // namespace rd780
