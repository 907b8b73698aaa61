#include "widgets/fieldcheck.h"

#include "protocol/frame.h"

#include <QLabel>
#include <QMessageBox>
#include <QStringList>

#include <algorithm>

QValidator::State HexWordValidator::validate(QString &text, int &) const
{
    if (protocol::hexWordFromText(text))
        return Acceptable;
    const QStringView digits =
        QStringView(text).mid(text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? 2 : 0);
    return digits.size() < 4 && std::all_of(digits.begin(), digits.end(), protocol::isHexDigit)
               ? Intermediate
               : Invalid;
}

void keepRoomWhenHidden(QWidget *widget)
{
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
}

void FieldNames::name(const QWidget *field, const QLabel *label, int place)
{
    QString text = label->text();
    if (text.endsWith(u'：'))
        text.chop(1);
    if (place > 0)
        text += tr("（第%1个）").arg(place);
    names.insert(field, text);
}

bool FieldNames::refuse(QWidget *window, const QList<FieldComplaint> &complaints) const
{
    QStringList lines;
    QWidget *first = nullptr;
    for (const FieldComplaint &complaint : complaints) {
        if (complaint.fields.isEmpty())
            continue;
        QStringList listed;
        for (const QWidget *field : complaint.fields)
            listed << names.value(field);
        lines << complaint.heading + listed.join(tr("、"));
        if (!first)
            first = complaint.fields.first();
    }
    if (lines.isEmpty())
        return false;
    QMessageBox::warning(window, tr("Warning"), lines.join(QLatin1Char('\n')), QMessageBox::Ok);
    first->setFocus();
    return true;
}

QString FieldNames::incompleteAddressHeading()
{
    return tr("以下字段需要四位十六进制数：");
}
