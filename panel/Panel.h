#pragma once
// What every panel of the main window shares: the client area its widgets sit on, the
// window's information box, its history list and its error gate. A panel sees the
// window only through this.
#include "base/Guard.h"

#include <QObject>
#include <QString>

#include <functional>
#include <string>
#include <utility>

class QWidget;

namespace rd780 {

class StatusFeed;

struct PanelContext {
    QWidget* Client = nullptr; // parent of the panel's widgets
    std::function<void(const QString&)> ShowMessage;
    std::function<void(const QString&)> AddHistoryLine;
};

class Panel : public QObject {
    Q_OBJECT
public:
    Panel(const PanelContext& context, QObject* parent)
        : QObject(parent), Client(context.Client), context_(context) {}

    QWidget* const Client;
    // The window's status bar, told of link events and table changes; null until the
    // window has made it.
    StatusFeed* Status = nullptr;

    void ShowMessage(const QString& text) { context_.ShowMessage(text); }
    void AddHistoryLine(const QString& line) { context_.AddHistoryLine(line); }
    // Runs a handler under the window's error handling: an error ends the handler and
    // its text is shown.
    template <class F> bool Guarded(F&& f) {
        return runGuarded([this](const std::string& e) { ShowMessage(QString::fromStdString(e)); },
                          std::forward<F>(f));
    }

private:
    PanelContext context_;
};

} // namespace rd780
