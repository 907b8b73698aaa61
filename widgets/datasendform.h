#pragma once

#include "protocol/payloads.h"
#include "widgets/linktestview.h"

#include <QList>
#include <QObject>

#include <array>
#include <functional>
#include <optional>

class FieldNames;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTextEdit;
class QWidget;

// The application-data box: the target, the routing and its relays, and the data text with its
// byte count; it builds the data-send frame, or refuses it with a box that says why.
class DataSendForm : public QObject
{
    Q_OBJECT

public:
    struct Widgets
    {
        QLineEdit *target;
        QComboBox *routeMode;
        QComboBox *maxDepth;
        QCheckBox *ackRequest;
        QTextEdit *data;
        QLabel *byteCount;
        QLabel *byteUnit;
        QComboBox *relayCount;
        QList<QWidget *> relayCaptions; // shown with the relays
        std::array<QLineEdit *, protocol::maxRelays> relays;
    };
    // Starts at automatic routing and the deepest hop count; the relays keep their room while
    // hidden. `names` words the refusals; `window` is the parent of the boxes.
    DataSendForm(const Widgets &widgets, const FieldNames *names, QWidget *window);

    // Counts the text's bytes, or marks where it stops fitting the format (typing is never
    // interrupted: a malformed text is marked in place, and the box waits for a send).
    void checkText();
    // The relays as the routing and their count allow.
    void showRouteMode();
    // The target field, as typed.
    void setTarget(const QString &address);
    // Source routing along these relays (at most six), in route order; the fields beyond them
    // keep their text.
    void setSourceRoute(const QList<quint16> &relays);
    // The frame a send would send, or nothing after the box that refuses it; `beforeBox` runs
    // before any box.
    std::optional<LinkTestView::Send> frame(const std::function<void()> &beforeBox = {});

private:
    int relayCount() const;

    Widgets ui;
    const FieldNames *names;
    QWidget *window;
    // The count the byte label shows, which a data frame announces.
    int declaredLength = 0;
};
