#pragma once
// The serial link in the window: connect and disconnect, the line speed, and the
// assembly of the received bytes into frame text for the decoder.
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

struct Capture;
class SerialChunker;
class SerialReplay;
class TSerialPortDriver;

class SerialLinkPanel : public LinkPanel {
    Q_OBJECT
public:
    // The link writes whole frames into frameHex; START1 and STOP1 are the Connect menu's
    // items, which follow the link's state. portDevice, when given, is opened as COM1.
    SerialLinkPanel(const PanelContext& context, std::string& frameHex, LinkWatch& watch,
                    QAction* START1, QAction* STOP1, const QString& portDevice, QObject* parent);

    TSerialPortDriver* COMM2 = nullptr; // COM1 at 2400
    // Serial bytes into chunks for FrameHex. shared_ptr: its deleter is made where the type
    // is complete.
    std::shared_ptr<SerialChunker> SerialFrames;
    long SerialFramesAssembled = 0; // whole frames the serial link handed to the decoder
    QPushButton* BTCon = nullptr;   // "Connect" and "Disconnect" lie on top of each other
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

    // Decodes the frame text just assembled.
    std::function<void()> Decode;
    // The link lost its device: the lamp goes grey.
    std::function<void()> LinkLost;
    // The panel's own Exit button.
    std::function<void()> ExitClick;

    // Sees the bytes of every read (--capture).
    std::function<void(const uint8_t*, std::size_t)> CaptureTap;
    // A serial capture Connect plays back instead of opening the port (--replay).
    std::shared_ptr<const Capture> ReplayCapture;
    double ReplaySpeed = 1;

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
    std::string& frameHex_;
    std::shared_ptr<SerialReplay> replay_; // shared_ptr: its deleter is made where it is complete
    QAction* const START1;
    QAction* const STOP1;
};

} // namespace rd780
