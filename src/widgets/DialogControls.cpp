#include "widgets/DialogControls.h"

#include <QLineEdit>
#include <QPushButton>

QLineEdit* NamedBox(QWidget* parent, const char* name, bool readOnly)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setReadOnly(readOnly);
    return box;
}

QPushButton* NamedButton(QWidget* parent, const QString& label, const char* name)
{
    auto* b = new QPushButton(label, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}
