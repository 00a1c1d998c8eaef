#include "workspace/Prompter.h"

namespace {
class SilentPrompter : public Prompter {
public:
    bool askYesNo(BoxKind, const QString&, const QString&) override { return false; }
    void message(BoxKind, const QString&, const QString&) override {}
};

SilentPrompter g_silent;
Prompter* g_current = nullptr;
}  // namespace

void installPrompter(Prompter* p) { g_current = p; }

Prompter& prompter() { return g_current ? *g_current : g_silent; }
