#include "cli/progress_meter.h"

#include <cstdio>
#include <ostream>
#include <string>

namespace tarvelin {

namespace {
constexpr auto kRedrawInterval = std::chrono::milliseconds(200);
constexpr int kBarWidth = 30;

std::string Duration(double seconds) {
    const long total = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    return text;
}
}  // namespace

ProgressMeter::ProgressMeter(std::ostream &err, std::size_t total)
    : err_(err), total_(total), start_(std::chrono::steady_clock::now()) {}

void ProgressMeter::Update(std::size_t done) {
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - lastDraw_ < kRedrawInterval && done < total_) return;
    lastDraw_ = now;
    Draw(done);
}

void ProgressMeter::Draw(std::size_t done) {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0.0;
    const double share = total_ ? static_cast<double>(done) / static_cast<double>(total_) : 1.0;
    const int filled = static_cast<int>(share * kBarWidth);
    std::string line = "\r[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] ";
    line += std::to_string(done) + "/" + std::to_string(total_);
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "  %.0f msg/s", rate);
    line += numbers;
    if (rate > 0) line += "  " + Duration(static_cast<double>(total_ - done) / rate) + " left";
    err_ << line << "\x1b[K" << std::flush;
    drawn_ = true;
}

void ProgressMeter::Interrupt() {
    if (drawn_) err_ << "\r\x1b[K" << std::flush;
    drawn_ = false;
}

void ProgressMeter::Finish() { Interrupt(); }

}  // namespace tarvelin
