#pragma once
// Key filters of the number edits: a typed character reaches the edit only if the filter
// admits it. Keys that type no character (arrows, Delete, shortcuts) pass untouched.
#include <QObject>

namespace rd780 {

// Digits and backspace.
bool isDigitKey(QChar c);

class KeyFilter : public QObject {
    Q_OBJECT
public:
    explicit KeyFilter(QObject* parent = nullptr) : QObject(parent) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace rd780
