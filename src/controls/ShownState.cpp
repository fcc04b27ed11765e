#include "controls/ShownState.h"

QString bubbleSpotTitle(BubbleSpot spot)
{
    switch (spot) {
    case BubbleSpot::bottomLeft:
        return QStringLiteral("Bottom left");
    case BubbleSpot::bottomRight:
        return QStringLiteral("Bottom right");
    case BubbleSpot::topLeft:
        return QStringLiteral("Top left");
    case BubbleSpot::topRight:
        return QStringLiteral("Top right");
    case BubbleSpot::asOnScreen:
        return QStringLiteral("Where it is on screen");
    }
    return QString();
}

std::optional<double> uploadFraction(const Phase &phase)
{
    if (!phase.is(Phase::Kind::uploading) || phase.totalBytes() < 1)
        return std::nullopt;
    return static_cast<double>(phase.sentBytes()) / static_cast<double>(phase.totalBytes());
}
