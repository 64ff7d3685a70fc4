// The terminal progress line of the command-line companion: while the folders are scanned, how
// many messages were found; during the run, a bar, the count, the rate and the time left. The line
// is cut to the terminal's width, so it never wraps and "\r" always returns to its start.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>

namespace tarvelin {

class ProgressMeter {
public:
    // columns is asked before each redraw, so a resized terminal is followed.
    ProgressMeter(std::ostream &err, std::function<int()> columns);

    // During the scan: the messages found so far. Shown only once the scan takes a while.
    void Scanning(std::size_t found);
    // The run begins; the rate and the time left count from here.
    void Start(std::size_t total);
    // Redraws at most a few times a second, and always for the last message.
    void Update(std::size_t done);
    // Clears the line so the summary starts on a clean one.
    void Finish();
    // Clears the line before another line is printed, and redraws on the next update.
    void Interrupt();

    // "12,345".
    static std::string Grouped(std::size_t number);

private:
    std::size_t Width() const;
    void Show(std::string line);
    std::string RunLine(std::size_t done, std::size_t width) const;

    std::ostream &err_;
    const std::function<int()> columns_;
    std::size_t total_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
    bool drawn_ = false;
};

}  // namespace tarvelin
