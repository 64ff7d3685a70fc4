// The terminal progress line of the command-line companion: count, rate and time left.
#pragma once

#include <chrono>
#include <cstddef>
#include <iosfwd>

namespace tarvelin {

class ProgressMeter {
public:
    ProgressMeter(std::ostream &err, std::size_t total);

    // Redraws at most a few times a second.
    void Update(std::size_t done);
    // Clears the line so the summary starts on a clean one.
    void Finish();
    // Clears the line before another line is printed, and redraws on the next update.
    void Interrupt();

private:
    void Draw(std::size_t done);

    std::ostream &err_;
    const std::size_t total_;
    const std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_{};
    bool drawn_ = false;
};

}  // namespace tarvelin
