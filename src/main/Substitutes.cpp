#include "main/Substitutes.h"

#include "service/ThumbnailFiles.h"

QCoro::Task<> UnavailableRecorder::start(QString, QScreen *, bool, std::optional<BubbleSpot>)
{
    throw RecorderError::failed(QStringLiteral("Screen recording is not available in this version of Mivra Video."));
    co_return;
}

QCoro::Task<RecordingResult> UnavailableRecorder::stop()
{
    throw RecorderError::notRecording();
    co_return RecordingResult{};
}

void ThumbnailFilesOnly::remove(const QString &id)
{
    ThumbnailFiles::remove(id);
}
