#pragma once

#include <QList>
#include <QString>
#include <deque>

#include "workspace/Prompter.h"

// Answers questions from a queue and records every text shown. An unscripted question fails
// the test (and answers No). Installed for its lifetime.
class ScriptedPrompter : public Prompter {
public:
    struct Shown {
        BoxKind kind;
        QString text;
        QString caption;
        bool question;
    };

    ScriptedPrompter();
    ~ScriptedPrompter() override;

    // Queues the answer to the next question (true = Yes).
    void answer(bool yes) { m_answers.push_back(yes); }
    const QList<Shown>& shown() const { return m_shown; }
    // The texts shown, questions and messages alike, in order.
    QStringList texts() const;
    // Messages only (no questions).
    QStringList messages() const;
    void clear() { m_shown.clear(); }
    bool answersLeft() const { return !m_answers.empty(); }

    bool askYesNo(BoxKind kind, const QString& text, const QString& caption) override;
    void message(BoxKind kind, const QString& text, const QString& caption) override;

private:
    std::deque<bool> m_answers;
    QList<Shown> m_shown;
};
