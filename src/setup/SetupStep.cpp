#include "setup/SetupStep.h"

QString setupStepName(SetupStep step)
{
    switch (step) {
    case SetupStep::install:
        return QStringLiteral("install");
    case SetupStep::camera:
        return QStringLiteral("camera");
    case SetupStep::microphone:
        return QStringLiteral("microphone");
    case SetupStep::screen:
        return QStringLiteral("screen");
    }
    return {};
}

std::optional<SetupStep> setupStepFromName(const QString &name)
{
    for (SetupStep step : allSetupSteps()) {
        if (setupStepName(step) == name)
            return step;
    }
    return std::nullopt;
}
