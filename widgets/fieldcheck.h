#pragma once

#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QString>
#include <QValidator>

class QLabel;
class QWidget;

// What an address field takes: an address by the one rule, and while typing whatever more
// digits could still make one.
class HexWordValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString &text, int &position) const override;
};

// A widget that comes and goes with a mode keeps its room, so the rest of the form stays put.
void keepRoomWhenHidden(QWidget *widget);

// Fields named in a refusal, under one heading such as "these need four hex digits".
struct FieldComplaint
{
    QString heading;
    QList<QWidget *> fields;
};

// What the window calls each checked field, for the boxes that refuse a send.
class FieldNames
{
    Q_DECLARE_TR_FUNCTIONS(FieldNames)

public:
    // Names the field after its label, without the label's colon; fields that share one label
    // are told apart by their place in the row (`place` from 1).
    void name(const QWidget *field, const QLabel *label, int place = 0);
    QString of(const QWidget *field) const { return names.value(field); }

    // Shows one warning box that names the fields by their on-screen labels and focuses the
    // first; false when no complaint names a field.
    bool refuse(QWidget *window, const QList<FieldComplaint> &complaints) const;

    static QString incompleteAddressHeading();

private:
    QHash<const QWidget *, QString> names;
};
