// Form1: the logic of the program's one window, toolkit-free.
//
// The window shows the three settings of a transfer (Comport, Blocksize,
// Delay) and the two operations, Read (Command4) and Write (Command3).  This
// class decides everything they do and owns the state they share: the busy
// flag comopened, the key buffer image of the last Write and the file name
// of the running operation.  It draws nothing: a view (form_view.h), the Qt
// window or the native Win32 window, shows what it is told and calls in:
//
//   after its controls exist     Form_Load()
//   a click on Read / Write      Command4_Click() / Command3_Click()
//   the close box                Form_Unload(cancel), then closes unless
//                                cancel was set
//
// Each operation runs from start to end inside its click, on the window's
// one thread; the exchange with the device (serial/) lets the view process
// its events while it waits for a quiet line, after each read and after
// each block's pause.  So a second click can arrive while an operation
// runs: both operations first apply the busy rule, a notice ("Allready
// open") that holds nothing, since a Write held between two blocks past
// the device's patience is given up (serial/exchange.h, Held).  While an
// operation runs, the other operation's button is disabled.
//
// The caption is the status line: progress while an operation runs,
// "   File read!" or "   File Written !" when one succeeded, the title again
// after one that failed.
//
// Closing during an operation: Form_Unload closes the port, clears
// comopened and asks the view to take down any box or dialog.  The
// operation stops at its next event processing without touching the port
// again and shows nothing more; on its way out it only enables the buttons.
// Except once a Write's request has gone out: the device then takes what
// follows as its key buffer, and a Write stopped there leaves it waiting
// for the rest.  So the close is put off (Cancel set), the Write goes on to
// its end, a failure box included, and then the view is asked to close the
// window (CloseWindow).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "form/defaults.h"
#include "form/form_view.h"
#include "image/hexfileHandle.h"

namespace vantri {

struct ExchangeHooks;
struct PortSetting;

class Form1 {
  public:
    // `view` must outlive the form.
    explicit Form1(FormView& view);
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // The state the operations share.  Flags are 16-bit, True -1, False 0.
    std::int16_t comopened = False16;   // an operation holds the serial port
    std::filesystem::path KeyFileName;  // file of the running operation, "" between
    ByteImage KeyImage;                 // the file the last Write loaded

    // Hex text to a byte string, one char per byte (see vantri::HexToBin).
    KeyBytes hextobin(std::string_view inp) const;

    // Start-up: gives the view the list items of the three boxes
    // (Comport 1..9 and this machine's ports, Blocksize 1..32, Delay 1..25).
    void Form_Load();
    void Command4_Click();  // Read
    void Command3_Click();  // Write
    // The window is about to close: closes the port and clears comopened.
    // An operation still running stops at its next event processing without
    // touching the port again, and shows nothing more.  During a Write whose
    // request has gone out, nothing stops: `Cancel` is set to True, and the
    // view is asked to close the window once the Write has ended.
    void Form_Unload(std::int16_t& Cancel);

  private:
    // Marks the operation on the stack, for a close that comes meanwhile.
    // On every way out it closes the port if the operation still holds it
    // (a close has not taken it), clears KeyFileName, enables the other
    // operation's button and, last, carries out a close that was put off.
    struct Running {
        Running(Form1& form, FormButton other);
        ~Running();
        Form1& form_;
        FormButton other_;
    };

    // Opens the port of a setting the operation can use (else shows
    // `error`) and disables `other`, whatever the open's result.  True when
    // the port is open and comopened set.
    bool OpenPort(const std::optional<PortSetting>& port, const std::string& error,
                  FormButton other);
    // Event processing and the cancel check, the same for both exchanges.
    ExchangeHooks CommonHooks();

    FormView& view_;
    bool operationRunning_ = false;
    bool closing_ = false;           // the window closed while the operation ran
    bool writeRequestSent_ = false;  // the running Write's 0x06 has gone out
    bool answerPending_ = false;     // the running Read's 0x05 is out, its answer not over
    bool stopReading_ = false;       // a close came meanwhile: stop, let the answer end
    bool closeWhenDone_ = false;     // a close put off until the operation ends
};

}  // namespace vantri
