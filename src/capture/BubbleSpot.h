#pragma once

#include <QString>

#include <optional>

// Where the camera bubble goes in the video. The raw value is the case name.
enum class BubbleSpot { bottomLeft = 1, bottomRight, topLeft, topRight, asOnScreen };

inline QString rawValue(BubbleSpot spot)
{
    switch (spot) {
    case BubbleSpot::bottomLeft:
        return QStringLiteral("bottomLeft");
    case BubbleSpot::bottomRight:
        return QStringLiteral("bottomRight");
    case BubbleSpot::topLeft:
        return QStringLiteral("topLeft");
    case BubbleSpot::topRight:
        return QStringLiteral("topRight");
    case BubbleSpot::asOnScreen:
        return QStringLiteral("asOnScreen");
    }
    return QString();
}

inline std::optional<BubbleSpot> bubbleSpotFromRawValue(const QString &raw)
{
    for (BubbleSpot spot : {BubbleSpot::bottomLeft, BubbleSpot::bottomRight, BubbleSpot::topLeft, BubbleSpot::topRight,
                            BubbleSpot::asOnScreen}) {
        if (rawValue(spot) == raw)
            return spot;
    }
    return std::nullopt;
}
