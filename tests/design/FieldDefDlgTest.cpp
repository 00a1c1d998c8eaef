#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>

#include "DesignFixture.h"
#include "design/CFieldDefDlg.h"
#include "support/DialogDriver.h"

namespace {

struct Boxes {
    QLineEdit *name, *category, *size, *length, *defaultValue;
    QComboBox* type;
    QPlainTextEdit* description;
    QRadioButton *nullAllowed, *nullRefused;
};

Boxes boxes(QDialog& d)
{
    return {lineEdit(d, "fieldNameBox"),
            lineEdit(d, "categoryBox"),
            lineEdit(d, "sizeBox"),
            lineEdit(d, "lengthBox"),
            lineEdit(d, "defaultBox"),
            d.findChild<QComboBox*>(QStringLiteral("typeList")),
            d.findChild<QPlainTextEdit*>(QStringLiteral("descriptionBox")),
            d.findChild<QRadioButton*>(QStringLiteral("nullAllowed")),
            d.findChild<QRadioButton*>(QStringLiteral("nullRefused"))};
}

void pick(QComboBox* list, const QString& type)
{
    const int i = list->findText(type);
    ASSERT_GE(i, 0) << type.toStdString();
    list->setCurrentIndex(i);
}

}  // namespace

TEST_F(DesignTest, FieldDialogOpensEmptyForANewColumnAndShowsThePickedType)
{
    CFieldDefDlg dlg(*conn, FieldDefinition{});
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("フィールド設定"));
    EXPECT_FALSE(dlg.editMode());
    Boxes b = boxes(dlg);
    ASSERT_NE(b.type, nullptr);
    EXPECT_EQ(b.type->currentIndex(), -1);
    EXPECT_TRUE(b.size->text().isEmpty() && b.category->text().isEmpty()
                && b.description->toPlainText().isEmpty());
    EXPECT_TRUE(b.length->isEnabled());
    EXPECT_TRUE(b.nullAllowed->isChecked());
    EXPECT_EQ(b.nullRefused->text(), QStringLiteral("NULL禁止（NOT　NULL)"));
    EXPECT_FALSE(b.type->isEditable());

    // Sorted without regard to case, array types left out.
    QStringList items;
    for (int i = 0; i < b.type->count(); ++i) items << b.type->itemText(i);
    ASSERT_GT(items.size(), 20);
    for (int i = 1; i < items.size(); ++i)
        EXPECT_LE(QString::compare(items[i - 1], items[i], Qt::CaseInsensitive), 0);
    EXPECT_FALSE(items.join(u' ').contains(QStringLiteral(" _")));

    // The whole constraint group is greyed out, its check box first of all.
    QGroupBox* group = nullptr;
    for (QGroupBox* g : dlg.findChildren<QGroupBox*>())
        if (g->title() == QStringLiteral("カラム制約")) group = g;
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group->title(), QStringLiteral("カラム制約"));
    EXPECT_FALSE(group->findChild<QCheckBox*>(QStringLiteral("constraintCheck"))->isEnabled());
    int controls = 0;
    for (QWidget* w : group->findChildren<QWidget*>()) {
        if (qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractButton*>(w)
            || qobject_cast<QComboBox*>(w)) {
            EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
            ++controls;
        }
    }
    // Three text boxes, the check box, five radio buttons, five push buttons, five lists.
    EXPECT_EQ(controls, 19);
    for (QComboBox* c : group->findChildren<QComboBox*>()) EXPECT_EQ(c->count(), 0);

    StatementLog log(*conn);
    pick(b.type, QStringLiteral("varchar"));
    EXPECT_EQ(b.size->text(), QStringLiteral("可変長"));
    EXPECT_EQ(b.description->toPlainText(), QStringLiteral("制限付の可変長文字列"));
    EXPECT_EQ(b.category->text(), QStringLiteral("文字データ型"));
    EXPECT_TRUE(b.length->isEnabled());
    EXPECT_EQ(log.statements().last(),
              QStringLiteral("select typname from pg_type where typtype = 'b' and typname = '_varchar'"));

    // A type the catalogue does not know empties the three texts.
    pick(b.type, QStringLiteral("bpchar"));
    EXPECT_TRUE(b.size->text().isEmpty() && b.category->text().isEmpty()
                && b.description->toPlainText().isEmpty());
}

TEST_F(DesignTest, FieldDialogEditModeSelectsByPrefixAndKeepsTheRowsValues)
{
    FieldDefinition int4;
    int4.name = QStringLiteral("qty");
    int4.type = QStringLiteral("int4");
    int4.nullable = false;
    int4.defaultValue = QStringLiteral("0");
    {
        CFieldDefDlg dlg(*conn, int4);
        Boxes b = boxes(dlg);
        EXPECT_TRUE(dlg.editMode());
        EXPECT_EQ(b.name->text(), QStringLiteral("qty"));
        EXPECT_EQ(b.type->currentText(), QStringLiteral("int4"));
        EXPECT_EQ(b.size->text(), QStringLiteral("4byte"));
        EXPECT_EQ(b.category->text(), QStringLiteral("数値型"));
        EXPECT_EQ(b.defaultValue->text(), QStringLiteral("0"));
        EXPECT_TRUE(b.nullRefused->isChecked());
    }
    {
        // int2vector begins with int2 too; int2 itself comes first.
        FieldDefinition int2 = int4;
        int2.type = QStringLiteral("int2");
        CFieldDefDlg dlg(*conn, int2);
        ASSERT_GE(boxes(dlg).type->findText(QStringLiteral("int2vector")), 0);
        EXPECT_EQ(boxes(dlg).type->currentText(), QStringLiteral("int2"));
    }
    // The prefix is compared without regard to case.
    {
        FieldDefinition upper = int4;
        upper.type = QStringLiteral("INT");
        upper.nullable = true;
        CFieldDefDlg dlg(*conn, upper);
        Boxes b = boxes(dlg);
        QString first;
        for (int i = 0; i < b.type->count() && first.isEmpty(); ++i)
            if (b.type->itemText(i).startsWith(QStringLiteral("int"), Qt::CaseInsensitive))
                first = b.type->itemText(i);
        EXPECT_EQ(b.type->currentText(), first);
        EXPECT_TRUE(b.nullAllowed->isChecked());
    }

    // The SQL form taken over from a table matches no item: no selection, empty texts, the
    // row's length shown in a disabled box, and OK refused until a type is picked.
    FieldDefinition taken;
    taken.name = QStringLiteral("code");
    taken.type = QStringLiteral("integer");
    taken.length = QStringLiteral(" 20 ");
    taken.constraintName = QStringLiteral("carried");
    taken.checkText = QStringLiteral("x > 0");
    taken.uniqueConstraint = true;
    CFieldDefDlg dlg(*conn, taken);
    Boxes b = boxes(dlg);
    EXPECT_EQ(b.type->currentIndex(), -1);
    EXPECT_TRUE(b.size->text().isEmpty() && b.category->text().isEmpty());
    EXPECT_EQ(b.length->text(), QStringLiteral(" 20 "));
    EXPECT_FALSE(b.length->isEnabled());
    const int rc = runModal(dlg, [&](QDialog& d) {
        button(d, "okButton")->click();
        EXPECT_EQ(prompts.messages(), QStringList{CFieldDefDlg::kNoType});
        EXPECT_TRUE(d.isVisible());
        pick(b.type, QStringLiteral("int4"));
        button(d, "okButton")->click();
    });
    ASSERT_EQ(rc, QDialog::Accepted);
    EXPECT_EQ(dlg.field().type, QStringLiteral("int4"));
    EXPECT_EQ(dlg.field().length, QStringLiteral(" 20 "));
    EXPECT_EQ(dlg.field().constraintName, QStringLiteral("carried"));
    EXPECT_EQ(dlg.field().checkText, QStringLiteral("x > 0"));
    EXPECT_TRUE(dlg.field().uniqueConstraint);
}

TEST_F(DesignTest, FieldDialogOkRefusesMissingNameOrTypeAndHandsBackTheTypedTexts)
{
    CFieldDefDlg dlg(*conn, FieldDefinition{});
    Boxes b = boxes(dlg);
    const int rc = runModal(dlg, [&](QDialog& d) {
        button(d, "okButton")->click();
        b.name->setText(QStringLiteral("Price"));
        button(d, "okButton")->click();
        EXPECT_TRUE(d.isVisible());
        pick(b.type, QStringLiteral("numeric"));
        b.length->setText(QStringLiteral("10,2"));
        b.defaultValue->setText(QStringLiteral(" O'Brien  x "));
        b.nullRefused->setChecked(true);
        button(d, "okButton")->click();
    });
    ASSERT_EQ(rc, QDialog::Accepted);
    EXPECT_EQ(prompts.messages(), (QStringList{CFieldDefDlg::kNoName, CFieldDefDlg::kNoType}));
    for (const ScriptedPrompter::Shown& s : prompts.shown())
        EXPECT_EQ(s.kind, BoxKind::Application);
    const FieldDefinition& f = dlg.field();
    EXPECT_EQ(f.name, QStringLiteral("Price"));
    EXPECT_EQ(f.type, QStringLiteral("numeric"));
    EXPECT_EQ(f.length, QStringLiteral("10,2"));
    EXPECT_EQ(f.defaultValue, QStringLiteral(" O'Brien  x "));
    EXPECT_FALSE(f.nullable);
    EXPECT_FALSE(f.exactName);
}
