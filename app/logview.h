#pragma once

class QString;
class QTextBrowser;

// Appends text at the end of a log box, whatever the user has clicked or selected in it.
// The view follows the new text only while it was scrolled to the bottom.
void appendToLog(QTextBrowser *box, const QString &text);

// Log boxes are read-only and grow all session: no undo history.
void prepareLog(QTextBrowser *box);
