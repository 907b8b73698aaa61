#pragma once

#include "protocol/configrecord.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class FieldNames;
class QCheckBox;
class QLineEdit;
class QWidget;

// The window's parameter box bound to the module's configuration: one widget per field of
// protocol/configfields.h by its key, the model check box with the LoRa rate widgets, and the
// profile files that export and import it.
class ConfigForm : public QObject
{
    Q_OBJECT

public:
    struct Widgets
    {
        QHash<QString, QWidget *> fields; // by field key: a list, an address field or a box
        QCheckBox *loraModel;
        QLineEdit *loraRate;        // the LoRa model's rate, from bandwidth and spreading factor
        QList<QWidget *> loraOnly;  // shown only for the LoRa model, keeping their room
        QList<QWidget *> plainOnly; // shown only without it
    };
    // The lists start as a factory module holds them. `names` words the refusals; `window` is
    // the parent of the boxes and file dialogs.
    ConfigForm(const Widgets &widgets, const FieldNames *names, QWidget *window);

    bool lora() const;
    // The box's values as they stand, blank lists and unfinished fields included.
    protocol::ModuleConfig config() const;
    // The values "写配置" would write, or nothing after the box that names what is missing.
    std::optional<protocol::EncodedConfig> checkedConfig(protocol::ModuleConfig *config);
    // Fills the box; shown() follows, then the LoRa rate.
    void show(const protocol::ModuleConfig &config);
    // One line per field that differs, "label：old → new", in the box's order.
    QString changeLines(const protocol::ModuleConfig &before, const protocol::ModuleConfig &after,
                        bool lora) const;

    // The LoRa rate the bandwidth and spreading factor give.
    void showLoraRate();
    // The rate widgets of the model checked.
    void showModel();

    // Saves the box as a profile the user names; the log's line, or nothing after a refusal, a
    // cancel or an error box.
    std::optional<QString> exportProfile();
    // Fills the box from a profile the user picks (nothing is written to the module); the log's
    // lines, or nothing.
    std::optional<QString> importProfile();

signals:
    // The box was filled from a read or a profile.
    void shown();

private:
    Widgets ui;
    const FieldNames *names;
    QWidget *window;
};
