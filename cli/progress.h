// The progress bar of vantri-key over a key buffer, on standard error.
//
// Drawn only when standard error is a terminal, so logs and pipes stay
// clean: "Reading  [###########.........................]  31%".  It is
// redrawn only when the percentage changes, and Finish ends its line so the
// next message starts on a line of its own.
#pragma once

#include <string>

namespace vantri::cli {

class ProgressBar {
  public:
    ProgressBar(std::string label, bool enabled);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void Update(int done);
    void Finish();

  private:
    std::string label_;
    bool enabled_;
    bool drawn_ = false;
    int shownPercent_ = -1;
};

}  // namespace vantri::cli
