#include "app/logview.h"

#include "ui/logview.h"

void appendToLog(LogView *box, const QString &text)
{
    box->appendText(text);
}
