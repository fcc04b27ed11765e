#include "platform/ClipboardWriter.h"

#include <QClipboard>
#include <QGuiApplication>

void QtClipboardWriter::setText(const QString &text)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}
