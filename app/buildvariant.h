#pragma once

#include <QString>

// The two builds differ only in these two texts.
struct BuildVariant
{
    QString windowTitle;
    QString moduleModelLabel;
};

inline BuildVariant plainBuild()
{
    return {QStringLiteral("无线模块配置和测试工具"), QStringLiteral("RQ-520M模块")};
}

inline BuildVariant brandedBuild()
{
    return {QStringLiteral("无线模块配置和测试工具——Corvexa"), QStringLiteral("TQ-520M模块")};
}
