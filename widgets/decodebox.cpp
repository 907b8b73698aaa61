#include "widgets/decodebox.h"

#include "protocol/framedecode.h"
#include "protocol/replies.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

DecodeBox::DecodeBox(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("decodeBox"));
    setWindowTitle(tr("解码"));
    hexInput = new QPlainTextEdit(this);
    hexInput->setObjectName(QStringLiteral("decodeInput"));
    hexInput->setPlaceholderText(QStringLiteral("01 00 06 00 07"));
    decoded = new QPlainTextEdit(this);
    decoded->setObjectName(QStringLiteral("decodeOutput"));
    decoded->setReadOnly(true);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    hexInput->setFont(fixed);
    decoded->setFont(fixed);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("十六进制字节（可粘贴收发框中的行）："), this));
    layout->addWidget(hexInput, 1);
    layout->addWidget(new QLabel(tr("解码结果："), this));
    layout->addWidget(decoded, 2);
    layout->addWidget(buttons);
    connect(hexInput, &QPlainTextEdit::textChanged, this, &DecodeBox::update);
    resize(640, 420);
}

QString DecodeBox::decodedText(const QString &hex)
{
    QString error;
    const auto bytes = protocol::bytesFromHexText(hex, &error);
    if (!bytes)
        return tr("不是十六进制：") + error + QLatin1Char('\n');
    QString text;
    for (const protocol::DecodedItem &item : protocol::decodeBytes(*bytes)) {
        QString kind;
        switch (item.kind) {
        case protocol::DecodedItem::Kind::Request:
            kind = tr("请求");
            break;
        case protocol::DecodedItem::Kind::Reply:
            kind = tr("应答");
            break;
        case protocol::DecodedItem::Kind::ConfigMode:
            kind = tr("进配置模式");
            break;
        case protocol::DecodedItem::Kind::NotAFrame:
            kind = tr("不是帧");
            break;
        }
        text += kind + QStringLiteral("  ") + protocol::hexLine(item.bytes);
        text += QStringLiteral("  ") + item.description + QLatin1Char('\n');
        // A reply the receive box would interpret reads here as it reads there.
        if (item.kind == protocol::DecodedItem::Kind::Reply && item.isGood()) {
            const QString shown = protocol::decodeReply(item.bytes).text;
            if (!shown.isEmpty())
                text += QStringLiteral("  ") + shown.trimmed().replace(QLatin1Char('\n'), "\n  ") +
                        QLatin1Char('\n');
        }
        for (const QString &problem : protocol::problemTexts(item))
            text += QStringLiteral("  ") + tr("错误：") + problem + QLatin1Char('\n');
    }
    return text;
}

void DecodeBox::update()
{
    decoded->setPlainText(decodedText(hexInput->toPlainText()));
}

DecodeBox *DecodeBox::showFor(QWidget *window)
{
    auto *box = window->findChild<DecodeBox *>(QString(), Qt::FindDirectChildrenOnly);
    if (!box)
        box = new DecodeBox(window);
    box->show();
    box->raise();
    box->activateWindow();
    return box;
}
