// The setup card's texts. They name what a Linux user sees: the
// applications folder, the video group, the sound settings and the
// desktop's screen-sharing question.
#include "setup/Installation.h"
#include "setup/Setup.h"

#include <QDir>

using Authorization = SetupPermissions::Authorization;

namespace {
QString folderName(const QString &path)
{
    return QDir::toNativeSeparators(path).replace(QDir::homePath(), QStringLiteral("~"));
}
} // namespace

void Setup::rowTexts(SetupCardRow &row) const
{
    SetupPermissions &permissions = *m_parts.permissions;
    const bool previewing = m_preview.has_value();
    const auto blocked = [&](Authorization status) {
        return !previewing && (status == Authorization::denied || status == Authorization::restricted);
    };
    switch (row.step) {
    case SetupStep::install:
        if (!previewing && Installation::isInApplications(m_parts.runningBundle) && !m_oldCopies.isEmpty()) {
            row.title = QStringLiteral("Remove the old copy");
            row.detail = QStringLiteral("An older copy in your applications folder confuses the desktop: its launcher "
                                        "and mivra:// links may open the wrong one.");
            row.button = QStringLiteral("Move to Trash");
        } else {
            row.title = QStringLiteral("Move to Applications");
            row.detail = QStringLiteral("So the launcher, mivra:// links and your screen choice all find one copy. "
                                        "Mivra Video moves itself to %1 and reopens.")
                             .arg(folderName(Installation::installDir()));
            row.button = QStringLiteral("Move");
        }
        if (m_installFailed) {
            row.detail = QStringLiteral("Move the Mivra Video folder from Downloads into %1, then open it from there.")
                             .arg(folderName(Installation::installDir()));
            row.button = QStringLiteral("Open Applications");
        }
        break;
    case SetupStep::camera:
        row.title = QStringLiteral("Allow the camera");
        if (blocked(permissions.cameraStatus())) {
            row.detail =
                QStringLiteral("Your user may not open the camera. Add it to the video group, then sign in again.");
            row.button = QStringLiteral("Open Settings");
        } else {
            row.detail = QStringLiteral("For the little bubble with your face in it.");
            row.button = QStringLiteral("Allow");
        }
        break;
    case SetupStep::microphone:
        row.title = QStringLiteral("Allow the microphone");
        if (blocked(permissions.microphoneStatus())) {
            row.detail = QStringLiteral("Turn on a microphone in your sound settings.");
            row.button = QStringLiteral("Open Settings");
        } else {
            row.detail = QStringLiteral("So viewers hear you.");
            row.button = QStringLiteral("Allow");
        }
        break;
    case SetupStep::screen: {
        const bool asked = previewing ? (m_preview == SetupStep::screen && m_previewScreenAsked) : m_screenAsked;
        row.title = QStringLiteral("Allow screen recording");
        if (asked) {
            row.detail = QStringLiteral("When your desktop asks which screen to share, choose it and let it remember "
                                        "the choice. You'll come back here.");
            row.button = QStringLiteral("Open Settings again");
            row.note = QStringLiteral("The first time you record, your desktop asks once more. Click Share.");
        } else {
            row.detail = QStringLiteral("So Mivra Video can record what's on your screen.");
            row.button = QStringLiteral("Allow");
        }
        break;
    }
    }
}

SetupCard Setup::card(bool camera, bool microphone) const
{
    SetupCard card;
    const auto current = currentStep(camera, microphone);
    if (!current)
        return card;
    const QList<SetupStep> listed = steps(camera, microphone);
    card.shown = true;
    card.header = QStringLiteral("Step %1 of %2").arg(listed.indexOf(*current) + 1).arg(listed.size());
    for (qsizetype i = 0; i < listed.size(); ++i) {
        SetupCardRow row{listed[i], int(i + 1), isDone(listed[i]), listed[i] == *current, {}, {}, {}, {}};
        rowTexts(row);
        if (!row.current) {
            row.detail.clear();
            row.button.clear();
            row.note.clear();
        }
        card.rows << row;
    }
    return card;
}

QVariantMap Setup::cardData(bool camera, bool microphone) const
{
    const SetupCard made = card(camera, microphone);
    QVariantList rows;
    for (const SetupCardRow &row : made.rows) {
        rows << QVariantMap{{"step", setupStepName(row.step)},
                            {"number", row.number},
                            {"done", row.done},
                            {"current", row.current},
                            {"title", row.title},
                            {"detail", row.detail},
                            {"button", row.button},
                            {"note", row.note}};
    }
    return {{"shown", made.shown}, {"header", made.header}, {"rows", rows}};
}
