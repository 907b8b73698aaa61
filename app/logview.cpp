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
    // Inside an edit block the cursor does not compute its horizontal position, which would
    // lay out the whole document up to the end on every append.
    end.beginEditBlock();
    end.movePosition(QTextCursor::End);
    end.insertText(text);
    end.endEditBlock();
    if (following)
        bar->setValue(bar->maximum());
}

void prepareLog(QTextBrowser *box)
{
    box->document()->setUndoRedoEnabled(false);
}
