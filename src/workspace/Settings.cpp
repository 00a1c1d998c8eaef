#include "workspace/Settings.h"

#include <QCoreApplication>
#include <QSettings>

#include "workspace/Prompter.h"

namespace {
const QString kPageLengthKey = QStringLiteral("MarlowKestrel/PageLength");
}

namespace Settings {

void registerKeys()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    QCoreApplication::setApplicationName(kAppTitle);
}

int pageLength()
{
    QSettings s;
    bool ok = false;
    const int v = s.value(kPageLengthKey, 1000).toInt(&ok);
    return ok ? v : 1000;
}

void setPageLength(int rows)
{
    QSettings s;
    s.setValue(kPageLengthKey, rows);
    s.sync();
}

}  // namespace Settings
