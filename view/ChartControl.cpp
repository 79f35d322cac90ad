// Waveform chart of the main window.
#include "app/TFCOMM.h"

#include <QComboBox>

namespace rd780 {

void TFCOMM::buildChartSide() {
    ComboBox1 = new QComboBox(Client);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->addItem("atile");
    ComboBox1->hide();
}

void TFCOMM::ResetChartSeries() {}
void TFCOMM::PlotFrameWaveform(const std::string&) {}
void TFCOMM::SetChartLeftAxis(double, double) {}

} // namespace rd780
