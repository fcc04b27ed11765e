#include "XWindows.h"

#include <QProcess>
#include <QRegularExpression>

QRect serverGeometry(quint64 window)
{
    QProcess info;
    info.start(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window)});
    if (!info.waitForFinished(10000))
        return {};
    const QString out = QString::fromUtf8(info.readAllStandardOutput());
    const auto number = [&out](const char *label) {
        const QRegularExpression line(QString::fromLatin1(label) + QStringLiteral(":\\s+(-?\\d+)"));
        return line.match(out).captured(1).toInt();
    };
    return {number("Absolute upper-left X"), number("Absolute upper-left Y"), number("Width"), number("Height")};
}

QString xdotool(const QStringList &arguments)
{
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), arguments);
    tool.waitForFinished(10000);
    return QString::fromUtf8(tool.readAllStandardOutput()).section(QLatin1Char('\n'), 0, 0);
}

quint64 visibleWindowNamed(const QString &name)
{
    return xdotool({"search", "--onlyvisible", "--name", name}).toULongLong();
}

void dragWithPointer(QPoint from, QPoint to)
{
    xdotool({"mousemove", QString::number(from.x()), QString::number(from.y()), "mousedown", "1", "mousemove",
             QString::number(to.x()), QString::number(to.y()), "mouseup", "1"});
}
