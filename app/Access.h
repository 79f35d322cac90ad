#pragma once
// Keyboard and assistive-technology access to the main window: the Tab order over the
// window's areas, F10 for the menu bar, the names a screen reader speaks, the LCD's
// reading as words, and the interfaces that give the LCD, the scale and the trend plot
// their state as text.
#include <QList>
#include <QString>

class QWidget;

namespace rd780 {

class TFCOMM;
struct ReadingState;

// "230.0 V AC AUTO", "overload", or "no reading yet" before the first frame.
QString spokenReading(const ReadingState& reading);

// The window's controls in Tab order: the connect button, the LCD, the recording
// controls, the grid, the recall strip, the limits and the history down the left; the
// scale, the chart and the link panel down the right; EXIT last, so the first Tab from
// the start focus goes to Connect.
QList<QWidget*> tabOrder(TFCOMM& w);

// Gives the LCD, the scale and the trend plot their interfaces. Called before they are
// made: an interface, once asked for, is kept for the widget's life.
void installPictureInterfaces();

// Called once the window's panels exist.
void setUpAccess(TFCOMM& w);

} // namespace rd780
