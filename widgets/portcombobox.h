#pragma once

#include <QAbstractItemView>
#include <QComboBox>
#include <QStyle>

// The port list: tells when the user is about to look at it, so it can be read again first,
// and shows device paths, which are longer than the field, whole.
class PortComboBox : public QComboBox
{
    Q_OBJECT

public:
    using QComboBox::QComboBox;

    void showPopup() override
    {
        emit aboutToShowPopup();
        int widest = 0;
        for (int i = 0; i < count(); ++i)
            widest = qMax(widest, view()->fontMetrics().horizontalAdvance(itemText(i)));
        view()->setMinimumWidth(widest + 4 * style()->pixelMetric(QStyle::PM_ScrollBarExtent));
        QComboBox::showPopup();
    }

signals:
    void aboutToShowPopup();
};
