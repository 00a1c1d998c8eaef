#pragma once

#include <QTreeWidget>

#include "app/CommandTarget.h"

class CKestrelDoc;
class CMainFrame;

// The object tree: its initial update is where the login happens.
class CLeftView : public QTreeWidget, public KestrelView {
    Q_OBJECT
public:
    CLeftView(CKestrelDoc& doc, CMainFrame* frame, QWidget* parent = nullptr);

    void initialUpdate() override;

    bool handlesCommand(int id) const override;
    void runCommand(int id) override;

private:
    CKestrelDoc& m_doc;
    CMainFrame* m_frame;
};
