#pragma once
// Key filters of the number edits: a typed character reaches the edit only if the filter
// admits it. Keys that type no character (arrows, Delete, shortcuts) pass untouched.
#include <QObject>

namespace rd780 {

// Digits and backspace.
bool isDigitKey(QChar c);
// Digits, backspace, "+" and "-" (the limit edits).
bool isSignedDigitKey(QChar c);

class KeyFilter : public QObject {
    Q_OBJECT
public:
    explicit KeyFilter(bool allowSigns, QObject* parent = nullptr)
        : QObject(parent), allowSigns_(allowSigns) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool allowSigns_;
};

} // namespace rd780
