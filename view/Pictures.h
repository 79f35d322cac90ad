#pragma once
// Small pictures of the scale and chart buttons, drawn at run time.
#include <QPixmap>

namespace rd780::view {

QPixmap enlargePicture(int size);  // four arrows pointing outwards
QPixmap restorePicture(int size);  // four arrows pointing inwards
QPixmap scopePicture(bool active); // an oscilloscope screen, green trace when active
// An empty pixmap of the given logical size in the screen's pixels.
QPixmap screenPixmap(int width, int height);

} // namespace rd780::view
