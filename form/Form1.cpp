#include "form/Form1.h"

#include <utility>

#include "form/messages.h"
#include "serial/exchange.h"
#include "serial/open_failure.h"
#include "serial/port_choices.h"
#include "serial/settings.h"
#include "serial/zrkCommModule.h"

namespace vantri {

Form1::Form1(FormView& view) : view_(view) {}

KeyBytes Form1::hextobin(std::string_view inp) const {
    return HexToBin(inp);
}

void Form1::Form_Load() {
    // 1 to 9, then this machine's ports by their stable names.
    view_.SetSettingChoices(FormSetting::Comport, ComportChoices());
    // "1" up to a count.
    for (const auto& [setting, count] :
         {std::pair{FormSetting::Blocksize, 32}, std::pair{FormSetting::Delay, 25}}) {
        std::vector<std::string> items;
        for (int i = 1; i <= count; ++i) {
            items.push_back(std::to_string(i));
        }
        view_.SetSettingChoices(setting, items);
    }
}

void Form1::Form_Unload(std::int16_t& Cancel) {
    if (writeRequestSent_ || answerPending_) {
        // The device is busy: cut now, a Write would leave it waiting for the
        // rest of its buffer and taking the next request's bytes as keys, and
        // a Read would leave its answer on the way, to run into the next
        // Read.  A Write goes on to its end; a Read stops collecting and lets
        // the answer end.  Then the window closes.
        Cancel = True16;
        closeWhenDone_ = true;
        if (answerPending_) {
            // Nothing of this Read will be saved: a box it shows goes down.
            stopReading_ = true;
            view_.DismissModals();
        }
        return;
    }
    CloseComPort();
    comopened = False16;
    if (!operationRunning_) {
        return;
    }
    closing_ = true;
    // The user's close box is blocked while a box or dialog is up, but the
    // session may still close the window then: the boxes go down, so the
    // operation gets back here, sees closing_ and ends quietly.
    view_.DismissModals();
}

bool Form1::OpenPort(const std::optional<PortSetting>& port, const std::string& error,
                     FormButton other) {
    if (!port) {
        view_.ShowMessage(SettingRefusedMessage(error));
        return false;
    }
    const std::int32_t result = OpenExchangePort(*port);
    if (result != 0) {
        // Taken at once: the box's own calls may change the error number.
        const std::uint32_t code = port::LastError();
        view_.ShowMessage(PortNotOpenedMessage(OpenFailureDetail(*port, result, code)));
    }
    // Whatever the result: the other operation is off while this one may run.
    view_.SetButtonEnabled(other, false);
    comopened = result == 0 ? True16 : False16;
    return result == 0;
}

Form1::Running::Running(Form1& form, FormButton other) : form_(form), other_(other) {
    form_.operationRunning_ = true;  // the rest is false between operations
}

Form1::Running::~Running() {
    if (form_.comopened != False16) {
        CloseComPort();
        form_.comopened = False16;
    }
    form_.KeyFileName.clear();
    form_.operationRunning_ = form_.closing_ = form_.stopReading_ = false;
    form_.writeRequestSent_ = form_.answerPending_ = false;
    form_.view_.SetButtonEnabled(other_, true);
    if (std::exchange(form_.closeWhenDone_, false)) {
        form_.view_.CloseWindow();
    }
}

ExchangeHooks Form1::CommonHooks() {
    ExchangeHooks hooks;
    hooks.processEvents = [this] { view_.ProcessEvents(); };
    hooks.cancelled = [this] { return closing_ || stopReading_; };
    return hooks;
}

}  // namespace vantri
