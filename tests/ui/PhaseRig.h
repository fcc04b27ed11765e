#pragma once

// An AppState of doubles that a test drives through the real phase machine,
// the step that would leave the phase held until the rig goes.

#include "support/AppStateRig.h"

#include <gtest/gtest.h>

struct PhaseRig : AppStateRig {
    std::optional<QCoro::Task<>> pending;

    ~PhaseRig()
    {
        recorder->startStep.release();
        recorder->stopStep.release();
        uploader->uploadStep.release();
        if (pending)
            run(std::move(*pending));
    }

    void reach(Phase::Kind kind)
    {
        using Kind = Phase::Kind;
        if (kind == Kind::starting) {
            recorder->startStep.hold = true;
            pending = state->startRecording();
        } else if (kind != Kind::idle) {
            run(state->startRecording());
        }
        if (kind == Kind::finishing || kind == Kind::uploading) {
            (kind == Kind::finishing ? recorder->stopStep : uploader->uploadStep).hold = true;
            pending = state->stopRecording();
        }
        ASSERT_TRUE(waitUntil([&] { return state->phase().is(kind); }));
    }
    void progress(qint64 sent, qint64 total)
    {
        uploader->progress(sent, total);
        ASSERT_TRUE(waitUntil([&] { return state->phase() == Phase::uploading(sent, total); }));
    }
};
