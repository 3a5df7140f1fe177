// Form1: the program's one window.
//
// It shows the three settings of a transfer (Comport, Blocksize, Delay) and
// the two operations, Read (Command4) and Write (Command3), and it owns the
// state they share: the busy flag comopened, the key buffer image of the
// last Write and the file name of the running operation.
//
// Each operation runs from start to end inside its button's click handler,
// on the window's one thread; the exchange with the device (serial/) lets
// the window process its events after each read and after each block's
// pause.  So a second click can arrive while an operation runs: both
// handlers first apply the busy rule ("Allready open").  While an operation
// runs, the other operation's button is disabled.
//
// The window caption is the status line: progress while an operation runs,
// "   File read!" or "   File Written !" when one succeeded, the title again
// after one that failed.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <string>

#include "image/hexfileHandle.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace vantri {

struct ExchangeHooks;
struct PortSetting;

inline constexpr char WindowCaption[] = "  Vantri Key Writer";

class Form1 : public QWidget {
    Q_OBJECT

  public:
    explicit Form1(QWidget* parent = nullptr);

    // The controls, named as the user's documentation names them.
    QPushButton* Command4;  // "&Read"
    QPushButton* Command3;  // "&Write"
    QComboBox* mydelay;     // Delay, milliseconds
    QComboBox* mylen;       // Blocksize, bytes
    QComboBox* comport;     // port number, or a device path
    QLabel* Label3;
    QLabel* Label2;
    QLabel* Label1;

    // The state the operations share.  Flags are 16-bit, True -1, False 0.
    std::int16_t comopened = False16;  // an operation holds the serial port
    QString KeyFileName;               // file of the running operation, "" between
    ByteImage KeyImage;                // the file the last Write loaded

    // Hex text to a byte string, one char per byte (see vantri::HexToBin).
    // Characters beyond Latin-1 count as non-digits.
    std::string hextobin(const QString& inp) const;

    void Command4_Click();  // Read
    void Command3_Click();  // Write
    // Runs when the window is about to close: closes the port and clears
    // comopened.  An operation still running stops at its next event
    // processing without touching the port again, and shows nothing more.
    // `Cancel` is never set: the close always goes ahead.
    void Form_Unload(std::int16_t& Cancel);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // Marks the operation on the stack, for a close that comes meanwhile,
    // and enables the other operation's button on every way out.
    struct Running {
        Running(Form1& form, QPushButton* other);
        ~Running();
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
        Form1& form_;
        QPushButton* other_;
    };

    void ShowBusy();
    // Tells why a setting was refused; the operation then does not start.
    void RefuseSetting(const std::string& error);
    // Opens the port and disables `other`, leaving it enabled again when the
    // open fails.  True when the port is open and comopened set.
    bool OpenPort(const PortSetting& port, QPushButton* other);
    // Closes the port, clears comopened and enables `other`: every way out
    // of a running operation.
    void EndOperation(QPushButton* other);
    // Event processing and the cancel check, the same for both exchanges.
    ExchangeHooks CommonHooks();
    // Saves the Read's key buffer under a name the user chooses, offering
    // the dialog again after a failed save.
    enum class SaveResult {
        Saved,
        Cancelled,  // in the first dialog
        Discarded,  // given up after a failed save, or the window closed
    };
    SaveResult SaveKeyBuffer(const std::string& keyBuffer);

    bool operationRunning_ = false;
    bool closing_ = false;  // the window closed while the operation ran
};

}  // namespace vantri
