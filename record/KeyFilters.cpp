#include "record/KeyFilters.h"

#include <QKeyEvent>

namespace rd780 {

bool isDigitKey(QChar c) {
    return (c >= u'0' && c <= u'9') || c == QChar(8);
}

bool KeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    // Shortcuts such as paste carry a control modifier and are left to the edit.
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    const QString text = key->text();
    if (text.isEmpty()) return false;
    for (QChar c : text) {
        if (c < QChar(32) && c != QChar(8)) return false; // Enter, Tab, Escape keep their role
        if (!isDigitKey(c)) return true;
    }
    return false;
}

} // namespace rd780
