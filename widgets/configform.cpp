#include "widgets/configform.h"

#include "protocol/configfields.h"
#include "protocol/profile.h"
#include "widgets/fieldcheck.h"
#include "widgets/lastfolder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QSaveFile>

using namespace protocol;

namespace {

const QString profileFolder = QStringLiteral("profiles");

} // namespace

ConfigForm::ConfigForm(const Widgets &widgets, const FieldNames *names, QWidget *window)
    : QObject(window), ui(widgets), names(names), window(window)
{
    static_cast<QComboBox *>(ui.fields.value(QStringLiteral("channel")))
        ->addItems(configField(QStringLiteral("channel"))->items);
    // The addresses stay blank until typed or read.
    for (const ConfigFieldSpec &field : configFields()) {
        if (field.position)
            static_cast<QComboBox *>(ui.fields.value(field.key))
                ->setCurrentIndex(int(field.items.indexOf(field.factory)));
    }
    for (QWidget *widget : ui.loraOnly)
        keepRoomWhenHidden(widget);
}

bool ConfigForm::lora() const
{
    return ui.loraModel->isChecked();
}

ModuleConfig ConfigForm::config() const
{
    ModuleConfig c;
    for (const ConfigFieldSpec &field : configFields()) {
        const QWidget *widget = ui.fields.value(field.key);
        if (field.position)
            c.*field.position = static_cast<const QComboBox *>(widget)->currentIndex();
        else if (field.word)
            c.*field.word =
                hexWordFromText(static_cast<const QLineEdit *>(widget)->text()).value_or(HexWord{});
        else
            c.*field.flag = static_cast<const QCheckBox *>(widget)->isChecked();
    }
    return c;
}

std::optional<EncodedConfig> ConfigForm::checkedConfig(ModuleConfig *config)
{
    *config = this->config();
    const EncodedConfig encoded = encodeConfigRecord(*config, lora());
    // A list without a current item (left so by a read reply) or an unfinished address would
    // write values nobody chose: refuse and name them.
    FieldComplaint blankLists{tr("以下列表没有选定的值："), {}};
    for (const QString &key : encoded.outOfRange)
        blankLists.fields << ui.fields.value(key);
    FieldComplaint addresses{FieldNames::incompleteAddressHeading(), {}};
    for (const ConfigFieldSpec &field : configFields()) {
        QWidget *widget = ui.fields.value(field.key);
        if (field.word && !hexWordFromText(static_cast<const QLineEdit *>(widget)->text()))
            addresses.fields << widget;
    }
    if (names->refuse(window, {blankLists, addresses}))
        return std::nullopt;
    return encoded;
}

void ConfigForm::show(const ModuleConfig &c)
{
    for (const ConfigFieldSpec &field : configFields()) {
        QWidget *widget = ui.fields.value(field.key);
        if (field.position)
            static_cast<QComboBox *>(widget)->setCurrentIndex(c.*field.position);
        else if (field.word)
            static_cast<QLineEdit *>(widget)->setText(formatHexWord(c.*field.word));
        else
            static_cast<QCheckBox *>(widget)->setChecked(c.*field.flag);
    }
    emit shown();
    showLoraRate();
}

QString ConfigForm::changeLines(const ModuleConfig &before, const ModuleConfig &after,
                                bool lora) const
{
    // The window's own words for each field: its label, and for a list the item it shows.
    auto shown = [&](const ConfigFieldSpec &field, const ModuleConfig &c,
                     const QString &text) -> QString {
        if (field.flag)
            return c.*field.flag ? tr("开") : tr("关");
        const auto *list = qobject_cast<const QComboBox *>(ui.fields.value(field.key));
        if (list && c.*field.position >= 0 && c.*field.position < list->count())
            return list->itemText(c.*field.position);
        return text;
    };
    QString lines;
    for (const FieldChange &change : configChanges(before, after, lora)) {
        const ConfigFieldSpec &field = *configField(change.key);
        const QWidget *widget = ui.fields.value(change.key);
        const auto *box = qobject_cast<const QCheckBox *>(widget);
        lines += QStringLiteral("  %1：%2 → %3\n")
                     .arg(box ? box->text() : names->of(widget),
                          shown(field, before, change.before), shown(field, after, change.after));
    }
    return lines;
}

void ConfigForm::showLoraRate()
{
    const auto text = loraBitRateText(
        static_cast<const QComboBox *>(ui.fields.value("bandwidth"))->currentIndex(),
        static_cast<const QComboBox *>(ui.fields.value("spreading_factor"))->currentIndex());
    if (text)
        ui.loraRate->setText(*text);
}

void ConfigForm::showModel()
{
    const bool lora = this->lora();
    for (QWidget *widget : ui.loraOnly)
        widget->setVisible(lora);
    ui.loraRate->setVisible(lora);
    for (QWidget *widget : ui.plainOnly)
        widget->setVisible(!lora);
}

std::optional<QString> ConfigForm::exportProfile()
{
    ModuleConfig c;
    if (!checkedConfig(&c))
        return std::nullopt;
    // Named after the module's address and the day.
    const QString path = askSavePath(
        window, tr("导出配置"), profileFolder,
        suggestedFileName(QStringLiteral("rfcfg"),
                          static_cast<const QLineEdit *>(ui.fields.value("address"))->text(),
                          QDate::currentDate(), QStringLiteral("json")),
        tr("配置文件 (*.json);;所有文件 (*)"), QStringLiteral("json"));
    if (path.isEmpty())
        return std::nullopt;
    const bool lora = this->lora();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(profileJson(configValues(c, lora), lora)) < 0 || !file.commit()) {
        QMessageBox::critical(window, tr("错误"), tr("无法保存文件：%1").arg(file.errorString()));
        return std::nullopt;
    }
    return tr("已导出配置：") + QDir::toNativeSeparators(path) + QLatin1Char('\n');
}

std::optional<QString> ConfigForm::importProfile()
{
    const QString path = QFileDialog::getOpenFileName(
        window, tr("导入配置"), lastFolder(profileFolder), tr("配置文件 (*.json);;所有文件 (*)"));
    if (path.isEmpty())
        return std::nullopt;
    setLastFolder(profileFolder, QFileInfo(path).absolutePath());
    Profile profile;
    const QString error = loadProfile(path, &profile);
    if (!error.isEmpty()) {
        QMessageBox::warning(window, tr("Warning"), tr("无法导入配置：\n") + error,
                             QMessageBox::Ok);
        return std::nullopt;
    }
    // Keys the profile leaves out keep what the box shows.
    const ModuleConfig before = config();
    ModuleConfig after = before;
    for (const auto &[key, value] : profile.values)
        setConfigValue(after, key, value, true);
    const bool loraBefore = lora();
    ui.loraModel->setChecked(profile.lora);
    show(after);
    QString lines = changeLines(before, after, profile.lora);
    if (loraBefore != profile.lora)
        lines.prepend(QStringLiteral("  %1：%2 → %3\n")
                          .arg(ui.loraModel->text(), loraBefore ? tr("开") : tr("关"),
                               profile.lora ? tr("开") : tr("关")));
    return tr("已导入配置（未写入模块）：") + QDir::toNativeSeparators(path) + QLatin1Char('\n') +
           (lines.isEmpty() ? tr("  没有字段改动\n") : lines);
}
