#include "app/logview.h"

#include <QScrollBar>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>

void appendToLog(QTextBrowser *box, const QString &text)
{
    if (text.isEmpty())
        return;
    QScrollBar *bar = box->verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    QTextCursor end(box->document());
    end.movePosition(QTextCursor::End);
    end.insertText(text);
    if (following)
        bar->setValue(bar->maximum());
}

void prepareLog(QTextBrowser *box)
{
    box->document()->setUndoRedoEnabled(false);
}
