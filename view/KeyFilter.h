#pragma once
// Discards typed characters that an edit does not admit. Navigation, editing shortcuts and
// backspace reach the edit unless the rule refuses them.
#include <QObject>

#include <functional>

namespace rd780::view {

class KeyFilter : public QObject {
public:
    KeyFilter(std::function<bool(char32_t)> allow, QObject* parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<bool(char32_t)> allow_;
};

} // namespace rd780::view
