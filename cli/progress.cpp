#include "cli/progress.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "image/hexfileHandle.h"

namespace vantri::cli {
namespace {

constexpr int kBarWidth = 40;

}  // namespace

ProgressBar::ProgressBar(std::string label, bool enabled)
    : label_(std::move(label)), enabled_(enabled) {}

ProgressBar::~ProgressBar() {
    Finish();
}

void ProgressBar::Update(int done) {
    if (!enabled_) {
        return;
    }
    done = std::clamp(done, 0, KeyBufferSize);
    const int percent = static_cast<int>(static_cast<long long>(done) * 100 / KeyBufferSize);
    if (percent == shownPercent_) {
        return;
    }
    shownPercent_ = percent;
    const int filled = static_cast<int>(static_cast<long long>(done) * kBarWidth / KeyBufferSize);
    const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                            std::string(static_cast<std::size_t>(kBarWidth - filled), '.');
    std::fprintf(stderr, "\r%-9s [%s] %3d%%", label_.c_str(), bar.c_str(), percent);
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::Finish() {
    if (drawn_) {
        std::fputc('\n', stderr);
        std::fflush(stderr);
        drawn_ = false;
    }
    enabled_ = false;
}

}  // namespace vantri::cli
