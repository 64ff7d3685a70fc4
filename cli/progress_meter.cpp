#include "cli/progress_meter.h"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <utility>

namespace tarvelin {

namespace {
constexpr auto kRedrawInterval = std::chrono::milliseconds(200);
constexpr std::size_t kBarWidth = 30;
// A narrower bar says too little to be worth its room.
constexpr std::size_t kNarrowestBar = 10;

std::string Duration(double seconds) {
    const long total = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    return text;
}
// Right-aligned in `width` columns.
std::string Pad(const std::string &text, std::size_t width) {
    return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}
}  // namespace

ProgressMeter::ProgressMeter(std::ostream &err, std::function<int()> columns)
    : err_(err),
      columns_(std::move(columns)),
      start_(std::chrono::steady_clock::now()),
      lastDraw_(start_) {}

std::string ProgressMeter::Grouped(std::size_t number) {
    std::string digits = std::to_string(number);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

void ProgressMeter::Scanning(std::size_t found) {
    // A quick scan shows nothing; a long one says it is alive.
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDraw_ < kRedrawInterval) return;
    lastDraw_ = now;
    Show("Scanning: " + Grouped(found) + (found == 1 ? " message found" : " messages found"));
}

void ProgressMeter::Start(std::size_t total) {
    total_ = total;
    start_ = std::chrono::steady_clock::now();
    // The first update draws at once, over the scan's line if one is shown.
    lastDraw_ = {};
}

void ProgressMeter::Update(std::size_t done) {
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - lastDraw_ < kRedrawInterval && done < total_) return;
    lastDraw_ = now;
    Show(RunLine(done, Width()));
}

std::size_t ProgressMeter::Width() const {
    const int columns = columns_ ? columns_() : 80;
    // The last column is left free: some terminals wrap as soon as it is written.
    return static_cast<std::size_t>(std::max(columns, 2) - 1);
}

std::string ProgressMeter::RunLine(std::size_t done, std::size_t width) const {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0.0;
    // Each field keeps its width from one redraw to the next, so the line does not jump about.
    const std::string all = Grouped(total_);
    const std::string counts = Pad(Grouped(done), all.size()) + "/" + all;
    const std::string rateText = "  " + Pad(Grouped(static_cast<std::size_t>(rate + 0.5)), 7) + " msg/s";
    const std::string left =
        "  " + (rate > 0 && done <= total_ ? Duration(static_cast<double>(total_ - done) / rate) : "-:--:--") + " left";

    // The bar shrinks first, then the rate goes, then the time left; the count stays.
    for (const std::string &tail : {counts + rateText + left, counts + left, counts}) {
        if (tail.size() + 3 + kNarrowestBar > width) continue;
        const std::size_t bar = std::min(kBarWidth, width - 3 - tail.size());
        const double share = total_ ? static_cast<double>(done) / static_cast<double>(total_) : 1.0;
        const auto filled = std::min(bar, static_cast<std::size_t>(share * static_cast<double>(bar)));
        return "[" + std::string(filled, '#') + std::string(bar - filled, '.') + "] " + tail;
    }
    return counts;
}

void ProgressMeter::Show(std::string line) {
    if (const std::size_t width = Width(); line.size() > width) line.resize(width);
    err_ << '\r' << line << "\x1b[K" << std::flush;
    drawn_ = true;
}

void ProgressMeter::Interrupt() {
    if (drawn_) err_ << "\r\x1b[K" << std::flush;
    drawn_ = false;
}

void ProgressMeter::Finish() { Interrupt(); }

}  // namespace tarvelin
