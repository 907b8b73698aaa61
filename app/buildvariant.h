#pragma once

#include <QCoreApplication>
#include <QString>

// The two builds differ only in these two texts.
struct BuildVariant
{
    QString windowTitle;
    QString moduleModelLabel;
};

inline BuildVariant plainBuild()
{
    return {QCoreApplication::translate("Dialog", "无线模块配置和测试工具"),
            QCoreApplication::translate("Dialog", "RQ-520M模块")};
}

inline BuildVariant brandedBuild()
{
    return {QCoreApplication::translate("Dialog", "无线模块配置和测试工具——Corvexa"),
            QCoreApplication::translate("Dialog", "TQ-520M模块")};
}
