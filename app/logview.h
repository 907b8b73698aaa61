#pragma once

class QString;
class LogView;

// Appends text at the end of a log box, whatever the user has clicked or selected in it.
// The view follows the new text only while it was scrolled to the bottom.
void appendToLog(LogView *box, const QString &text);
