// tarvelin-cli's arguments and standard streams on Windows: the arguments come from the wide
// command line, and text goes to a console through its wide output (any code page shows Cyrillic
// or CJK names) and to a file or pipe as UTF-8 bytes.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace tarvelin {

// The arguments after the program name, as UTF-8.
std::vector<std::string> WideCommandLineArguments();

// A stream buffer over a standard handle (STD_OUTPUT_HANDLE, STD_ERROR_HANDLE).
class ConsoleBuffer : public std::streambuf {
public:
    explicit ConsoleBuffer(unsigned long standardHandle);
    ~ConsoleBuffer() override;
    ConsoleBuffer(const ConsoleBuffer &) = delete;
    ConsoleBuffer &operator=(const ConsoleBuffer &) = delete;

    bool IsConsole() const { return console_; }

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    bool Flush();

    void *handle_;
    bool console_;
    std::string pending_;  // bytes not yet written; may end inside a UTF-8 sequence
};

}  // namespace tarvelin
