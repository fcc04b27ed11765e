#include "Service.h"

#include "Log.h"

#include <unordered_map>

namespace {

// One step of start-up recovery; a failure is logged and leaves what it
// touched as it was, so the server always starts and the next start tries again.
template <typename Step> void attempt(const std::string &what, Step &&step)
{
    try {
        step();
    } catch (const std::exception &e) {
        logLine("recovery: " + what + " left as it is: " + e.what());
    }
}

} // namespace

RecoveryReport Service::recover(bool machineRestarted)
{
    RecoveryReport report;
    attempt("tmp/", [&] { m_storage->removeTemporaries(); });

    std::unordered_map<std::string, VideoRow> rows;
    for (VideoRow &row : m_metadata->allVideos())
        rows.emplace(row.id, std::move(row));
    std::unordered_map<std::string, std::vector<PartRow>> parts;
    for (auto &[id, part] : m_metadata->allParts())
        parts[id].push_back(std::move(part));

    // Parts reach the disk only when their upload is published. After the
    // machine itself went down, a recorded part may have lost its bytes: only
    // those whose bytes still have their digest count.
    auto partIntact = [&](const std::string &id, const VideoRow &row, const PartRow &p) {
        return !machineRestarted ||
               m_storage->partMatches(id, p.number, row.partSize, std::uint64_t(p.sizeBytes), p.etag);
    };

    // A complete that was accepted is finished: its parts were checked and
    // recorded before the crash. One whose bytes are gone fails instead.
    std::vector<std::string> completing;
    for (const auto &[id, row] : rows)
        if (row.state == VideoState::Completing)
            completing.push_back(id);
    for (const std::string &id : completing) {
        VideoRow &row = rows.at(id);
        attempt("the completing video " + id, [&] {
            bool publishable = m_storage->hasMedia(id);
            if (!publishable && m_storage->hasUpload(id) && row.sizeBytes) {
                publishable = true;
                for (const PartRow &p : parts[id])
                    publishable = publishable && partIntact(id, row, p);
            }
            if (publishable && finishCompleting(row)) {
                row.state = VideoState::Ready;
                parts.erase(id);
                ++report.completesFinished;
            } else if (!publishable) {
                m_metadata->deleteVideo(id);
                m_storage->removeUpload(id);
                ++report.rowsWithoutMediaRemoved;
                parts.erase(id);
                rows.erase(id);
            }
        });
    }

    // Media is served only for a ready row: any other media file is what a
    // crash left between publishing a single-part upload and recording it, or
    // after deleting a row.
    for (const std::string &id : m_storage->listMedia()) {
        auto it = rows.find(id);
        if (it == rows.end() || it->second.state == VideoState::Uploading)
            attempt("the media file " + id, [&] {
                m_storage->removeMedia(id);
                ++report.orphanMediaRemoved;
            });
    }
    // Only a definite "no such file" removes a row; another error leaves it.
    for (const auto &[id, row] : rows) {
        if (row.state == VideoState::Ready)
            attempt("the video " + id, [&] {
                if (!m_storage->hasMedia(id)) {
                    m_metadata->deleteVideo(id);
                    ++report.rowsWithoutMediaRemoved;
                }
            });
    }

    // Upload files belong to uploads in progress (or completes still to finish) only.
    for (const std::string &id : m_storage->listUploads()) {
        auto it = rows.find(id);
        if (it == rows.end() || it->second.state == VideoState::Ready)
            attempt("the upload file " + id, [&] {
                m_storage->removeUpload(id);
                ++report.orphanUploadsRemoved;
            });
    }
    // A recorded part must lie within what is stored of its upload.
    for (const auto &[id, list] : parts) {
        auto it = rows.find(id);
        if (it != rows.end() && it->second.state != VideoState::Uploading)
            continue;
        attempt("the parts of " + id, [&] {
            const bool uploading = it != rows.end();
            const std::optional<std::uint64_t> extent = uploading ? m_storage->uploadExtent(id) : std::nullopt;
            for (const PartRow &p : list) {
                const std::uint64_t end = uploading ? std::uint64_t(p.number - 1) * std::uint64_t(it->second.partSize) +
                                                          std::uint64_t(p.sizeBytes)
                                                    : 0;
                if (!uploading || !extent || *extent < end || !partIntact(id, it->second, p)) {
                    m_metadata->deletePart(id, p.number);
                    ++report.partRowsRemoved;
                }
            }
        });
    }
    return report;
}

SweepReport Service::sweep()
{
    SweepReport report;
    const std::int64_t now = m_clock.nowMs();
    for (const std::string &id : m_metadata->expiredIds(now)) {
        auto guard = m_rowLocks.lock(id);
        const std::optional<VideoRow> row = m_metadata->findVideo(id);
        if (row && row->expiresAtMs <= m_clock.nowMs()) {
            removeEverything(id);
            ++report.expiredRemoved;
        }
    }
    for (const std::string &id : m_metadata->staleUploadIds(now - m_options.uploadTimeoutMs)) {
        auto guard = m_rowLocks.lock(id);
        const std::optional<VideoRow> row = m_metadata->findVideo(id);
        if (row && row->state == VideoState::Uploading && isGone(*row, m_clock.nowMs())) {
            removeEverything(id);
            ++report.staleUploadsRemoved;
        }
    }
    return report;
}
