// How a long loop of the core hands control back to whoever drives it: the window's event loop,
// the command line, or a test.
#pragma once

namespace tarvelin {

class WorkHooks {
public:
    virtual ~WorkHooks() = default;

    // Called at least once per item. The window processes pending events here (rate-limited).
    virtual void Yield() {}

    // True once the program is ending (window closed, Exit answered Yes). Loops check it right
    // after each Yield and return at once, leaving no partial output behind.
    virtual bool StopRequested() const { return false; }

    // What a long loop does between two items: yields, then tells whether to stop.
    bool YieldAndCheckStop() {
        Yield();
        return StopRequested();
    }
};

// For callers that never yield and never stop (tests, tools).
inline WorkHooks &NoWorkHooks() {
    static WorkHooks hooks;
    return hooks;
}

}  // namespace tarvelin
