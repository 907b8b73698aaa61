#pragma once

#include <QDialog>

class QPlainTextEdit;

// The window's decode box: hex pasted in (the log boxes' lines too), the frames it holds read
// out as the command line's decode does, each with what is wrong with it.
class DecodeBox : public QDialog
{
    Q_OBJECT

public:
    explicit DecodeBox(QWidget *parent = nullptr);

    QPlainTextEdit *input() const { return hexInput; }
    QPlainTextEdit *output() const { return decoded; }

    // The text shown for `hex`.
    static QString decodedText(const QString &hex);

    // One box per window, raised when it is already open.
    static DecodeBox *showFor(QWidget *window);

private:
    void update();

    QPlainTextEdit *hexInput;
    QPlainTextEdit *decoded;
};
