#include "listview/CKestrelView.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>

#include "listview/CPageBarDlg.h"
#include "listview/CRecordDlg.h"
#include "listview/Listings.h"
#include "listview/RecordEditing.h"
#include "listview/TextTableModel.h"
#include "workspace/CKestrelDoc.h"
#include "workspace/Prompter.h"
#include "workspace/Settings.h"
#include "workspace/Transaction.h"

CKestrelView::CKestrelView(CKestrelDoc& doc, QWidget* parent)
    : ResultList(parent), m_doc(doc), m_textModel(new TextTableModel(this))
{
    setObjectName(QStringLiteral("listView"));
}

void CKestrelView::initialUpdate()
{
    showListing();
    m_doc.pageLength = Settings::pageLength();
}

void CKestrelView::onUpdate() { showListing(); }

void CKestrelView::showRowsOf(QAbstractItemModel* rows)
{
    if (model() == rows) return;
    // The view makes a new selection model for the new model and leaves the old one to us.
    QItemSelectionModel* old = selectionModel();
    setModel(rows);
    delete old;
}

void CKestrelView::showListing()
{
    showRowsOf(resultModel());
    clearList();
    m_textModel->clear();
    m_rowIdentityShown = false;
    m_relationsListed = false;
    Connection* conn = m_doc.connection();
    if (!conn) return;

    const ListingChoice choice =
        ChooseListing(m_doc.nodeDepth, m_doc.nodeCaption, m_doc.parentCaption, m_doc.browsedObject());
    switch (choice.kind) {
    case Listing::None:
        break;
    case Listing::Contents:
        ShowTableContents(choice.relation);
        break;
    case Listing::Sequences:
        m_textModel->setTable(LoadSequenceListing(*conn));
        showRowsOf(m_textModel);
        break;
    case Listing::Tables:
    case Listing::Views:
    case Listing::Indexes: {
        Result r = conn->read(ListingStatement(choice.kind));
        if (!r.tuplesOk()) {
            // The tables summary says why it stays empty (a lost session has told the operator
            // already what became of it); the others stay empty as they did.
            if (choice.kind == Listing::Tables && conn->lossReport().isEmpty())
                prompter().tell(BoxKind::Application, FailureText(*conn, r));
            break;
        }
        resultModel()->setResult(std::move(r), ListingTranslator(choice.kind), kSummaryHiddenFields);
        CaptionListedRelations(*resultModel());
        m_relationsListed = true;
        break;
    }
    default:
        FillListFromResult(this, conn->read(ListingStatement(choice.kind)),
                           ListingTranslator(choice.kind));
        break;
    }
}

void CKestrelView::ShowTableContents(const ObjectName& relation)
{
    Connection* conn = m_doc.connection();
    if (!conn) {
        showContents(relation, Result(), false, false);
        return;
    }
    const bool rowIdentity = ShowsRowIdentity(m_doc.parentCaption);
    showContents(relation,
                 conn->read(TableContentsStatement(relation, rowIdentity, m_doc.pageLength,
                                                   m_doc.pageIndex)),
                 rowIdentity, false);
}

void CKestrelView::showContents(const ObjectName& relation, Result page, bool rowIdentity,
                                bool firstRowExtra)
{
    showRowsOf(resultModel());
    clearList();
    m_relationsListed = false;
    const bool ok = page.tuplesOk();
    const int hidden = rowIdentity ? kHiddenIdentityFields : 0;
    m_columnCount = ok ? page.fields() - hidden : 0;
    m_rowIdentityShown = ok && rowIdentity;
    const int skip = firstRowExtra && ok && page.rows() > 0 ? 1 : 0;
    if (m_rowIdentityShown) m_position.shown(relation, page, m_doc.pageLength, skip);
    else m_position.forget();
    resultModel()->setResult(std::move(page), {}, hidden);
    if (skip) resultModel()->removeRowsAt({0});
}

RowIdentity CKestrelView::rowIdentity(int row) const
{
    if (!m_rowIdentityShown || model() != resultModel()) return {};
    return {resultModel()->hiddenText(row, 0), cellText(row, 0), resultModel()->hiddenText(row, 1)};
}

ObjectName CKestrelView::listedSequence(int row) const
{
    if (model() != m_textModel) return {};
    return m_textModel->table().objects.value(row);
}

int CKestrelView::currentRow() const
{
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.row() : -1;
}

QString CKestrelView::cellText(int row, int column) const
{
    return model()->index(row, column).data().toString();
}

bool CKestrelView::handlesCommand(int id) const
{
    switch (id) {
    case Cmd::SqlWindow:
    case Cmd::UserCreate:
    case Cmd::DatabaseCreate:
    case Cmd::CsvImport:
    case Cmd::RecordDelete:
    case Cmd::Copy:
    case Cmd::PageSetting:
    case Cmd::NextPage:
    case Cmd::PreviousPage:
    case Cmd::Refresh:
    case Cmd::TableDetail:
    case Cmd::RecordEdit:
        return true;
    default:
        return false;
    }
}

bool CKestrelView::commandEnabled(int id) const
{
    if (id == Cmd::TableDetail || id == Cmd::RecordEdit) return m_doc.tableFlag != 0;
    return true;
}

void CKestrelView::runCommand(int id)
{
    if (IsSharedViewCommand(id)) {
        if (m_dialogs.sharedCommand) m_dialogs.sharedCommand(id, m_doc, this);
        return;
    }
    switch (id) {
    case Cmd::Refresh:
        showListing();
        break;
    case Cmd::NextPage:
        turnPage(1);
        break;
    case Cmd::PreviousPage:
        turnPage(-1);
        break;
    case Cmd::PageSetting:
        setPage();
        break;
    case Cmd::Copy:
        copySelection();
        break;
    case Cmd::RecordEdit:
        editRecord();
        break;
    case Cmd::RecordDelete:
        deleteRecords();
        break;
    case Cmd::TableDetail:
        // The tree is left as it is.
        if (Connection* conn = m_doc.connection(); conn && m_dialogs.tableDetail)
            m_dialogs.tableDetail(*conn, m_doc.browsedObject(), m_doc.sessionDatabase(), this);
        break;
    default:
        break;
    }
}

// Next and previous step from the rows on show where they can (see PagePosition), by the
// page number otherwise.
void CKestrelView::turnPage(int step)
{
    if (!ShowsPagedRows(m_doc.parentCaption)) return;
    if (step < 0 && m_doc.pageIndex == 0) return;
    const ObjectName relation = m_doc.browsedObject();
    Connection* conn = m_doc.connection();
    PageStep next{m_doc.pageIndex + step, std::nullopt};
    if (conn && m_rowIdentityShown)
        next = m_position.step(*conn, relation, m_doc.pageIndex, m_doc.pageLength, step);
    m_doc.pageIndex = next.pageIndex;
    if (next.page) showContents(relation, std::move(*next.page), true, next.firstRowExtra);
    else ShowTableContents(relation);
}

void CKestrelView::setPage()
{
    if (!ShowsPagedRows(m_doc.parentCaption)) return;
    CPageBarDlg dlg(m_doc.pageIndex, m_doc.pageLength, this);
    if (dlg.exec() != QDialog::Accepted) return;
    m_doc.pageIndex = dlg.pageIndex();
    m_doc.pageLength = dlg.pageLength();
    Settings::setPageLength(m_doc.pageLength);
    ShowTableContents(m_doc.browsedObject());
}

void CKestrelView::copySelection()
{
    if (model()->rowCount() == 0) return;
    m_columnCount = model()->columnCount();
    const QString text = RowsAsText(*model(), selectedRowIndexes(), m_columnCount);
    if (text.isEmpty()) return;
    QGuiApplication::clipboard()->setText(text);
}

void CKestrelView::editRecord()
{
    const int row = currentRow();
    Connection* conn = m_doc.connection();
    if (!m_rowIdentityShown || row < 0 || !conn) return;
    QStringList values;
    for (int c = 0; c < m_columnCount; ++c) values << cellText(row, c);

    CRecordDlg dlg(*conn, m_doc.browsedObject(), values, rowIdentity(row), this);
    dlg.exec();
    if (dlg.deleted()) {
        resultModel()->removeRowsAt({row});
        return;
    }
    // The dialog hands back this row's values as the server now holds them, or the list's own
    // when the row changed or went: never another row's.
    const QStringList changed = dlg.rowValues();
    for (int c = 0; c < m_columnCount && c < changed.size(); ++c) {
        if (changed.at(c) != values.at(c)) resultModel()->setText(row, c, changed.at(c));
    }
    resultModel()->setHiddenText(row, 0, dlg.identity().tableoid);
    resultModel()->setHiddenText(row, 1, dlg.identity().xmin);
}

void CKestrelView::deleteRecords()
{
    Connection* conn = m_doc.connection();
    if (m_doc.parentCaption != kTablesFolder || !m_rowIdentityShown || !conn) return;
    if (model()->rowCount() == 0) return;
    const std::vector<int> rows = selectedRowIndexes();
    if (rows.empty()) return;
    std::vector<RowIdentity> identities;
    for (int r : rows) identities.push_back(rowIdentity(r));
    if (!DeleteRows(*conn, m_doc.browsedObject(), identities)) return;
    resultModel()->removeRowsAt(rows);
    TellChangeDone(*conn, kRowsDeleted);
}

std::unique_ptr<QMenu> CKestrelView::createContextMenu()
{
    auto menu = std::make_unique<QMenu>(this);
    menu->setObjectName(QStringLiteral("listContextMenu"));
    auto add = [this, &menu](int id, const QString& label) {
        QAction* a = menu->addAction(label);
        a->setObjectName(QStringLiteral("command%1").arg(id));
        connect(a, &QAction::triggered, this, [this, id] {
            runCommand(id);
            emit commandStatesChanged();
        });
        return a;
    };
    QAction* addRecord = add(Cmd::RecordAdd, QStringLiteral("レコードの追加"));
    QAction* edit = add(Cmd::RecordEdit, QStringLiteral("レコードの編集"));
    add(Cmd::RecordDelete, QStringLiteral("レコードの削除"));
    menu->addSeparator();
    QAction* detail = add(Cmd::TableDetail, QStringLiteral("テーブルの明細"));
    menu->addSeparator();
    add(Cmd::Refresh, QStringLiteral("最新の情報を読み込む"));
    // Deletion stays enabled: it checks for itself what is shown.
    const bool table = m_doc.tableFlag != 0;
    addRecord->setEnabled(table);
    edit->setEnabled(table);
    detail->setEnabled(table);
    return menu;
}

void CKestrelView::contextMenuEvent(QContextMenuEvent* event)
{
    std::unique_ptr<QMenu> menu = createContextMenu();
    menu->exec(event->globalPos());
}

void CKestrelView::keyPressEvent(QKeyEvent* event)
{
    if (m_doc.parentCaption == kTablesFolder) {
        const int key = event->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            editRecord();
            return;
        }
        if (key == Qt::Key_Delete) {
            deleteRecords();
            return;
        }
    }
    ResultList::keyPressEvent(event);
}

void CKestrelView::mouseDoubleClickEvent(QMouseEvent* event)
{
    ResultList::mouseDoubleClickEvent(event);
    rowDoubleClicked(indexAt(event->position().toPoint()).row());
}

void CKestrelView::rowDoubleClicked(int row)
{
    switch (ChooseRowAction(m_doc.nodeDepth, m_doc.nodeCaption, m_doc.parentCaption)) {
    case RowAction::EditRecord:
        // The click made the row under the pointer the current one; below the rows it did not.
        if (row >= 0) editRecord();
        break;
    case RowAction::UserEdit:
        // Below the rows the name is empty, and the dialog shows a user it cannot find.
        if (Connection* conn = m_doc.connection(); conn && m_dialogs.userEdit)
            m_dialogs.userEdit(*conn, cellText(row, 0), this);
        break;
    case RowAction::SequenceInfo:
        // The sequences listing keeps each row's own schema.
        if (Connection* conn = m_doc.connection(); conn && m_dialogs.sequenceDetail) {
            const ObjectName sequence = row >= 0 ? listedSequence(row) : ObjectName{};
            m_dialogs.sequenceDetail(*conn, sequence.name.isEmpty() ? rowObject(row) : sequence, this);
        }
        break;
    case RowAction::TableInfo:
        if (Connection* conn = m_doc.connection(); conn && m_dialogs.tableDetail)
            m_dialogs.tableDetail(*conn, rowObject(row), m_doc.sessionDatabase(), this);
        break;
    default:
        break;
    }
}

// The object a catalogue row names: cell 0, in the schema the tables summary carries out of
// sight or of a "schemaname" column when the listing has one (the search path decides
// otherwise). No row gives an empty name.
ObjectName CKestrelView::rowObject(int row) const
{
    if (m_relationsListed && model() == resultModel() && row >= 0)
        return ListedRelation(*resultModel(), row);
    QString schema;
    for (int c = 0; c < model()->columnCount(); ++c) {
        if (model()->headerData(c, Qt::Horizontal).toString() == u"schemaname")
            schema = cellText(row, c);
    }
    return {schema, row >= 0 ? cellText(row, 0) : QString(), schema.isEmpty()};
}
