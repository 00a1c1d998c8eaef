#pragma once

#include <QPlainTextEdit>

#include "app/CommandTarget.h"

class CKestrelDoc;

// The log pane: the server's notices, read-only.
class CDebugView : public QPlainTextEdit, public KestrelView {
    Q_OBJECT
public:
    explicit CDebugView(CKestrelDoc& doc, QWidget* parent = nullptr);

    void initialUpdate() override;

    bool handlesCommand(int id) const override;
    void runCommand(int id) override;

private:
    CKestrelDoc& m_doc;
};
