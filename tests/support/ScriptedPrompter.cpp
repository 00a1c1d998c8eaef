#include "support/ScriptedPrompter.h"

#include <gtest/gtest.h>

#include <QStringList>

ScriptedPrompter::ScriptedPrompter() { installPrompter(this); }

ScriptedPrompter::~ScriptedPrompter() { installPrompter(nullptr); }

QStringList ScriptedPrompter::texts() const
{
    QStringList out;
    for (const Shown& s : m_shown) out << s.text;
    return out;
}

QStringList ScriptedPrompter::messages() const
{
    QStringList out;
    for (const Shown& s : m_shown)
        if (!s.question) out << s.text;
    return out;
}

bool ScriptedPrompter::askYesNo(BoxKind kind, const QString& text, const QString& caption)
{
    m_shown.push_back({kind, text, caption, true});
    if (m_answers.empty()) {
        ADD_FAILURE() << "unscripted question: " << text.toStdString();
        return false;
    }
    const bool yes = m_answers.front();
    m_answers.pop_front();
    return yes;
}

void ScriptedPrompter::message(BoxKind kind, const QString& text, const QString& caption)
{
    m_shown.push_back({kind, text, caption, false});
}
