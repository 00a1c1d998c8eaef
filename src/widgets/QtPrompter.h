#pragma once

#include "workspace/Prompter.h"

// Message boxes on screen. The application box is parented to the main window; the window box
// to the dialog or view in front (the active modal dialog, else the active window).
class QtPrompter : public Prompter {
public:
    bool askYesNo(BoxKind kind, const QString& text, const QString& caption) override;
    void message(BoxKind kind, const QString& text, const QString& caption) override;
};
