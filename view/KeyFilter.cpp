#include "view/KeyFilter.h"

#include <QKeyEvent>

namespace rd780::view {

KeyFilter::KeyFilter(std::function<bool(char32_t)> allow, QObject* parent)
    : QObject(parent), allow_(std::move(allow)) {}

bool KeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QList<uint> chars = key->text().toUcs4();
        // Shortcuts (Ctrl+C, Ctrl+V, ...) are left to the edit.
        const bool shortcut =
            key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        for (uint c : chars) {
            const bool typed = c == 8 || (c >= 32 && c != 127);
            if (!shortcut && typed && !allow_(static_cast<char32_t>(c))) return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace rd780::view
