#pragma once

#include "widgets/logstore.h"

#include <QAbstractScrollArea>

class QAction;

// A read-only log box for long sessions: holds its lines in a LogStore and paints only the
// rows in view, in a fixed-pitch font, wrapped at the box's width. New text always lands at
// the end; the view follows it only while scrolled to the bottom. Mouse and keyboard select,
// and a context menu copies, selects all, saves, clears and switches time stamps on new lines.
class LogView : public QAbstractScrollArea
{
    Q_OBJECT
    Q_PROPERTY(QString plainText READ toPlainText WRITE setPlainText)
    Q_PROPERTY(bool timeStamps READ timeStamps WRITE setTimeStamps)

public:
    explicit LogView(QWidget *parent = nullptr);

    void appendText(const QString &text);
    QString toPlainText() const { return store.plainText(); }
    QString selectedText() const;
    bool timeStamps() const { return stamping; }
    const LogStore &lines() const { return store; }
    // Writes the whole text as UTF-8; on failure returns false and sets the reason.
    bool saveTo(const QString &path, QString *error = nullptr) const;

public slots:
    void clear();
    void setPlainText(const QString &text);
    void selectAll();
    void copy() const;
    void saveAs();
    void setTimeStamps(bool on);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void measureFont();
    void ensureMeasured();
    void refit();
    void setCursorTo(LogStore::Position p, bool extend);
    void ensureVisible(LogStore::Position p);
    LogStore::Position positionAt(QPoint point) const;
    int visibleRows() const;
    void drawRow(QPainter &painter, qint64 row, int y);

    LogStore store;
    LogStore::Position anchor, cursor;
    bool selecting = false;
    bool stamping = false;
    bool measured = false;
    qreal cellWidth = 1;
    int rowHeight = 1;
    QAction *copyAction, *selectAllAction, *saveAction, *clearAction, *stampAction;
};
