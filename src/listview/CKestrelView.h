#pragma once

#include "app/CommandTarget.h"
#include "workspace/ResultList.h"

class CKestrelDoc;
class CMainFrame;

// The list view: catalogue listings and table rows of the node selected in the tree.
class CKestrelView : public ResultList, public KestrelView {
    Q_OBJECT
public:
    CKestrelView(CKestrelDoc& doc, CMainFrame* frame, QWidget* parent = nullptr);

    void initialUpdate() override;

    bool handlesCommand(int id) const override;
    void runCommand(int id) override;

private:
    CKestrelDoc& m_doc;
    CMainFrame* m_frame;
};
