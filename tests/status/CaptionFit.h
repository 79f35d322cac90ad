#pragma once
// Finds the captions a window does not show whole at its current size and fonts: every
// label, button and check box text, group box title and header section, measured with the
// widget's own font against the room its style gives the text, and against the siblings
// laid over it and the ancestors that cut it off.
#include <QString>

#include <vector>

class QWidget;

namespace rd780::test {

struct ClippedCaption {
    QString objectName; // the widget's name, or its parent's with the header section
    QString className;
    QString text;
    int needed = 0;    // pixels the text needs from where it starts
    int available = 0; // pixels it gets before it is cut
    QString cause;     // "too narrow", "under <sibling>", "cut by <ancestor>"
};

// Hidden widgets, and captions wholly outside an ancestor, show nothing and are skipped.
std::vector<ClippedCaption> findClippedCaptions(QWidget* root);

QString describe(const std::vector<ClippedCaption>& clipped);

} // namespace rd780::test
