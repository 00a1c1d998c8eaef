#include "design/CFieldDefDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "design/TypeCatalogue.h"
#include "widgets/DialogControls.h"
#include "workspace/Prompter.h"

namespace {

const QString kNullAllowedLabel = QStringLiteral("NULL許可");
const QString kNullRefusedLabel = QStringLiteral("NULL禁止（NOT　NULL)");

QLineEdit* box(QWidget* parent, const char* name, bool readOnly = false)
{
    return NamedBox(parent, name, readOnly);
}

template <class W>
W* named(W* w, const char* name)
{
    w->setObjectName(QLatin1String(name));
    return w;
}

}  // namespace

CFieldDefDlg::CFieldDefDlg(Connection& conn, const FieldDefinition& field, QWidget* parent)
    : QDialog(parent), m_conn(conn), m_field(field)
{
    setObjectName(QStringLiteral("fieldDefDlg"));
    setWindowTitle(QStringLiteral("フィールド設定"));

    m_nameBox = box(this, "fieldNameBox");
    m_typeList = named(new QComboBox(this), "typeList");
    m_typeList->setEditable(false);
    m_categoryBox = box(this, "categoryBox", true);
    m_sizeBox = box(this, "sizeBox", true);
    m_descriptionBox = named(new QPlainTextEdit(this), "descriptionBox");
    m_descriptionBox->setReadOnly(true);
    m_descriptionBox->setFrameShadow(QFrame::Sunken);
    m_lengthBox = box(this, "lengthBox");
    m_defaultBox = box(this, "defaultBox");

    auto* typeGroup = new QGroupBox(QStringLiteral("タイプの設定"), this);
    auto* typeLayout = new QGridLayout(typeGroup);
    typeLayout->addWidget(new QLabel(QStringLiteral("タイプ"), typeGroup), 0, 0);
    typeLayout->addWidget(m_typeList, 0, 1);
    typeLayout->addWidget(m_categoryBox, 0, 2);
    typeLayout->addWidget(new QLabel(QStringLiteral("サイズ"), typeGroup), 1, 0);
    typeLayout->addWidget(m_sizeBox, 1, 1);
    typeLayout->addWidget(m_descriptionBox, 2, 0, 1, 3);

    auto* nullGroup = new QGroupBox(QStringLiteral("NULL設定"), this);
    m_nullAllowed = named(new QRadioButton(kNullAllowedLabel, nullGroup), "nullAllowed");
    m_nullRefused = named(new QRadioButton(kNullRefusedLabel, nullGroup), "nullRefused");
    auto* nullLayout = new QVBoxLayout(nullGroup);
    nullLayout->addWidget(m_nullAllowed);
    nullLayout->addWidget(m_nullRefused);

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("フィールド名"), m_nameBox);
    auto* lower = new QFormLayout;
    lower->addRow(QStringLiteral("長さ"), m_lengthBox);
    lower->addRow(QStringLiteral("デフォルト"), m_defaultBox);

    auto* ok = named(new QPushButton(QStringLiteral("OK"), this), "okButton");
    ok->setDefault(true);
    auto* cancel = named(new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this), "cancelButton");
    cancel->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* left = new QVBoxLayout;
    left->addLayout(fields);
    left->addWidget(typeGroup);
    left->addLayout(lower);
    left->addWidget(nullGroup);
    auto* columns = new QHBoxLayout;
    columns->addLayout(left);
    columns->addWidget(buildConstraintGroup());
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &CFieldDefDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    // Opening: the type list, then the record's values; the length and default come after the
    // type update, so an edited row shows its length even where the type disables the box.
    fillTypeList();
    m_editMode = !m_field.name.isEmpty();
    if (m_editMode) {
        m_nameBox->setText(m_field.name);
        selectTypeByPrefix(m_field.type);
        typeUpdate();
    }
    m_lengthBox->setText(m_field.length);
    m_defaultBox->setText(m_field.defaultValue);
    (m_editMode && !m_field.nullable ? m_nullRefused : m_nullAllowed)->setChecked(true);
    for (QWidget* w : m_constraintControls) w->setEnabled(false);
    connect(m_typeList, &QComboBox::currentIndexChanged, this, [this] { typeUpdate(); });
}

// The column-constraint group: shown, created disabled, and nothing enables its check box, so
// none of its values is ever set or read.
QWidget* CFieldDefDlg::buildConstraintGroup()
{
    auto* group = new QGroupBox(QStringLiteral("カラム制約"), this);
    m_constraintCheck = named(new QCheckBox(QStringLiteral("カラム制約を行う"), group),
                              "constraintCheck");
    m_constraintCheck->setEnabled(false);
    auto* nameBox = box(group, "constraintNameBox");

    auto* nullGroup = new QGroupBox(QStringLiteral("NULL設定"), group);
    auto* nullAllowed = named(new QRadioButton(kNullAllowedLabel, nullGroup), "constraintNullAllowed");
    auto* nullRefused = named(new QRadioButton(kNullRefusedLabel, nullGroup), "constraintNullRefused");
    auto* nullLayout = new QVBoxLayout(nullGroup);
    nullLayout->addWidget(nullAllowed);
    nullLayout->addWidget(nullRefused);

    auto* keyGroup = new QGroupBox(QStringLiteral("キー設定"), group);
    auto* primary = named(new QRadioButton(QStringLiteral("PRIMARY"), keyGroup), "constraintPrimary");
    auto* unique = named(new QRadioButton(QStringLiteral("UNIQUE"), keyGroup), "constraintUnique");
    auto* check = named(new QRadioButton(QStringLiteral("CHECK"), keyGroup), "constraintCheckKey");
    auto* checkText = box(keyGroup, "checkTextBox");
    auto* keyLayout = new QGridLayout(keyGroup);
    keyLayout->addWidget(primary, 0, 0);
    keyLayout->addWidget(unique, 1, 0);
    keyLayout->addWidget(check, 2, 0);
    keyLayout->addWidget(checkText, 2, 1);

    auto* referenceBox = box(group, "referenceTableBox");
    auto* referenceButton = named(new QPushButton(QStringLiteral("参照"), group), "referenceButton");
    referenceButton->setAutoDefault(false);
    auto* from = named(new QListWidget(group), "referenceColumns");
    auto* to = named(new QListWidget(group), "chosenColumns");
    auto* arrows = new QVBoxLayout;
    m_constraintControls = {nameBox, nullAllowed, nullRefused, primary, unique, check, checkText,
                            referenceBox, referenceButton, from, to};
    for (const char* label : {">", ">>", "<", "<<"}) {
        auto* b = new QPushButton(QString::fromLatin1(label), group);
        b->setAutoDefault(false);
        arrows->addWidget(b);
        m_constraintControls << b;
    }
    auto* lists = new QHBoxLayout;
    lists->addWidget(from);
    lists->addLayout(arrows);
    lists->addWidget(to);

    auto* options = new QFormLayout;
    for (const char16_t* label :
         {u"MATCH", u"ON DELETE", u"ON UPDATE", u"DEFERRABLE", u"INITIALLY "}) {
        auto* list = new QComboBox(group);
        options->addRow(QString::fromUtf16(label), list);
        m_constraintControls << list;
    }

    auto* reference = new QHBoxLayout;
    reference->addWidget(new QLabel(QStringLiteral("参照先テーブル"), group));
    reference->addWidget(referenceBox);
    reference->addWidget(referenceButton);
    auto* constraintName = new QHBoxLayout;
    constraintName->addWidget(new QLabel(QStringLiteral("制約名"), group));
    constraintName->addWidget(nameBox);

    auto* layout = new QVBoxLayout(group);
    layout->addWidget(m_constraintCheck);
    layout->addLayout(constraintName);
    layout->addWidget(nullGroup);
    layout->addWidget(keyGroup);
    layout->addLayout(reference);
    layout->addLayout(lists);
    layout->addLayout(options);

    connect(m_constraintCheck, &QCheckBox::toggled, this, [this](bool on) {
        for (QWidget* w : m_constraintControls) w->setEnabled(on);
    });
    return group;
}

// The list keeps its names in case-insensitive alphabetical order, as a sorted drop-down
// list does, whatever order the server gave.
void CFieldDefDlg::fillTypeList()
{
    QStringList names = LoadBaseTypeNames(m_conn);
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    m_typeList->addItems(names);
    m_typeList->setCurrentIndex(-1);
}

void CFieldDefDlg::selectTypeByPrefix(const QString& typeName)
{
    for (int i = 0; i < m_typeList->count(); ++i) {
        if (m_typeList->itemText(i).startsWith(typeName, Qt::CaseInsensitive)) {
            m_typeList->setCurrentIndex(i);
            return;
        }
    }
}

void CFieldDefDlg::typeUpdate()
{
    const QString type = m_typeList->currentIndex() < 0 ? QString() : m_typeList->currentText();
    if (const TypeCatalogueEntry* e = FindTypeEntry(type)) {
        m_sizeBox->setText(QString::fromUtf16(e->storageSize));
        m_descriptionBox->setPlainText(QString::fromUtf16(e->description));
        m_categoryBox->setText(QString::fromUtf16(e->category));
    } else {
        m_sizeBox->clear();
        m_descriptionBox->clear();
        m_categoryBox->clear();
    }
    if (TypeTakesLength(m_conn, type)) {
        m_lengthBox->setEnabled(true);
    } else {
        m_lengthBox->clear();
        m_lengthBox->setEnabled(false);
    }
}

void CFieldDefDlg::accept()
{
    const QString name = m_nameBox->text();
    if (name.isEmpty()) {
        prompter().tell(BoxKind::Application, kNoName);
        return;
    }
    const QString type = m_typeList->currentIndex() < 0 ? QString() : m_typeList->currentText();
    if (type.isEmpty()) {
        prompter().tell(BoxKind::Application, kNoType);
        return;
    }
    // A taken-over name stays exact only while it is left as it came from the server.
    m_field.exactName = m_field.exactName && name == m_field.name;
    m_field.name = name;
    m_field.type = type;
    m_field.length = m_lengthBox->text();
    m_field.defaultValue = m_defaultBox->text();
    m_field.nullable = m_nullAllowed->isChecked();
    QDialog::accept();
}
