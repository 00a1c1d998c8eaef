#pragma once

#include "workspace/Waiter.h"

// Waits on the workspace's session without freezing the windows. For the first moment
// (kShowAfterMs) the event loop runs without user input, so a quick answer changes nothing the
// operator sees; after that a small window, modal to the whole application and owned by the
// window in front, shows the time elapsed and "中止", which asks the server to cancel. Closing
// that window is the same request; it closes itself when the answer is in. Other windows keep
// painting meanwhile, but take no input.
class QtWaiter : public Waiter {
public:
    static constexpr int kShowAfterMs = 300;
    void wait(WaitingStatement& s) override;
};
