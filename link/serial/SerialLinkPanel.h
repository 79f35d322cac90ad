#pragma once
// The serial link in the window: connect and disconnect, the line speed; the bytes it
// reads go to the session, which finds the frames in them.
#include "panel/LinkPanel.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QAction;
class QLabel;
class QPushButton;
class QToolButton;

namespace rd780 {

class MeterSession;
class TSerialPortDriver;

class SerialLinkPanel : public LinkPanel {
    Q_OBJECT
public:
    // The link hands what it reads to session; START1 and STOP1 are the Connect menu's
    // items, which follow the link's state. portDevice, when given, is opened as COM1. A
    // serial capture the session read (--replay) is played on Connect instead of the port.
    SerialLinkPanel(const PanelContext& context, MeterSession& session, QAction* START1,
                    QAction* STOP1, const QString& portDevice, QObject* parent);

    TSerialPortDriver* COMM2 = nullptr; // COM1 at 2400
    QPushButton* BTCon = nullptr;       // "Connect" and "Disconnect" lie on top of each other
    QPushButton* BtDiscon = nullptr;
    QToolButton* COMCon = nullptr; // hidden, like everything below it
    QPushButton* Button3 = nullptr;
    QPushButton* Button2 = nullptr;
    QLabel* BtCOM1 = nullptr;
    QLabel* BtCOM2 = nullptr;
    QLabel* BtCOM3 = nullptr;
    QLabel* BtCOM4 = nullptr;
    QPushButton* BtExit = nullptr;
    // Beside the panels: which device the link uses, or why it could not be opened.
    QLabel* SerialNote = nullptr;

    // The link lost its device: the lamp goes grey.
    std::function<void()> LinkLost;
    // The panel's own Exit button.
    std::function<void()> ExitClick;

    void destroySerialSide();
    void BindSerialReceiveHandler(); // at start: COMM2.OnReceiveData := H520RData
    void H520RData(void* Sender, const uint8_t* DataPtr, int DataSize);
    void H520RIdle(); // a poll tick without bytes: the pause that ends a chunk
    void FormResize(int windowWidth);
    void BTCon1Click();
    void BtDiscon1Click();
    void COMConClick();
    void Button3Click();
    void Button2Click();

private:
    void tellOpenResult(bool opened);
    void linkProblem(const QString& text); // shown in the status bar too
    bool openSerial();
    MeterSession& session_;
    bool replaying_ = false;
    QAction* const START1;
    QAction* const STOP1;
};

} // namespace rd780
