#include "widgets/QtPrompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

namespace {
QWidget* ownerFor(BoxKind kind)
{
    if (kind == BoxKind::Window) {
        if (QWidget* modal = QApplication::activeModalWidget()) return modal;
        return QApplication::activeWindow();
    }
    // The application box belongs to the main window, the top-level widget without a parent
    // that is not a dialog.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isWindow() && w->inherits("QMainWindow")) return w;
    }
    return QApplication::activeWindow();
}
}  // namespace

bool QtPrompter::askYesNo(BoxKind kind, const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    ownerFor(kind));
    box.setObjectName(QStringLiteral("kestrelQuestion"));
    return box.exec() == QMessageBox::Yes;
}

void QtPrompter::message(BoxKind kind, const QString& text, const QString& caption)
{
    QMessageBox box(kind == BoxKind::Application ? QMessageBox::Warning : QMessageBox::Information,
                    caption, text, QMessageBox::Ok, ownerFor(kind));
    box.setObjectName(QStringLiteral("kestrelMessage"));
    box.exec();
}
