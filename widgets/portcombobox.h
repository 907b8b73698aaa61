#pragma once

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionComboBox>

// The port list: tells when the user is about to look at it, so it can be read again first,
// and shows device paths, which may be longer than the field, whole: in its drop-down and in the
// field's tooltip. The field keeps the end of a path in view, where paths differ.
class PortComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit PortComboBox(QWidget *parent = nullptr) : QComboBox(parent)
    {
        connect(this, &QComboBox::currentTextChanged, this, [this](const QString &text) {
            setToolTip(text);
            showEndOfPath();
        });
    }

    // Sized for a usual device path, whatever the list holds: a long path must not widen the
    // window.
    QSize sizeHint() const override { return fieldSize(); }
    QSize minimumSizeHint() const override { return fieldSize(); }

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

protected:
    void focusOutEvent(QFocusEvent *event) override
    {
        QComboBox::focusOutEvent(event);
        showEndOfPath();
    }

private:
    void showEndOfPath()
    {
        if (QLineEdit *edit = lineEdit(); edit && !edit->hasFocus())
            edit->end(false);
    }

    QSize fieldSize() const
    {
        QStyleOptionComboBox option;
        initStyleOption(&option);
        const QFontMetrics metrics = fontMetrics();
        const QSize text(metrics.horizontalAdvance(QStringLiteral("/dev/ttyUSB0")),
                         qMax(metrics.height(), 14) + 2);
        return style()->sizeFromContents(QStyle::CT_ComboBox, &option, text, this);
    }
};
