#pragma once

#include <QString>

// The two kinds of message box: the application box and the window box (modal to the
// dialog or view in front). Both carry the application title unless a caption is given.
enum class BoxKind { Application, Window };

inline const QString kAppTitle = QStringLiteral("マーロウKestrel");

// What logic needs from the operator: a Yes/No question or a message. Logic never opens a
// message box itself; the application installs the Qt implementation, tests a scripted one.
class Prompter {
public:
    virtual ~Prompter() = default;
    // true for Yes.
    virtual bool askYesNo(BoxKind kind, const QString& text, const QString& caption) = 0;
    virtual void message(BoxKind kind, const QString& text, const QString& caption) = 0;

    bool ask(BoxKind kind, const QString& text) { return askYesNo(kind, text, kAppTitle); }
    void tell(BoxKind kind, const QString& text) { message(kind, text, kAppTitle); }
};

// The prompter in force. Installing nullptr restores the default, which answers No and shows
// nothing (for code that runs before the application installs its own).
void installPrompter(Prompter* prompter);
Prompter& prompter();
