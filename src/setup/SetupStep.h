#pragma once

#include <QList>
#include <QString>

#include <optional>

// The setup card's steps, in the card's order.
enum class SetupStep { install, camera, microphone, screen };

inline const QList<SetupStep> &allSetupSteps()
{
    static const QList<SetupStep> steps{SetupStep::install, SetupStep::camera, SetupStep::microphone,
                                        SetupStep::screen};
    return steps;
}

QString setupStepName(SetupStep step);
std::optional<SetupStep> setupStepFromName(const QString &name);
