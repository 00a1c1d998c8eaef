#include "app/AppIcon.h"

// The resource lives in a static library: it must be registered before its first use.
static void registerIconResource() { Q_INIT_RESOURCE(kestrel); }

QIcon ApplicationIcon()
{
    static const QIcon icon = [] {
        registerIconResource();
        return QIcon(QStringLiteral(":/icons/kestrel.png"));
    }();
    return icon;
}
