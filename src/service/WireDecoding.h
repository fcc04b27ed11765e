#pragma once

#include "service/WireRecords.h"

#include <QByteArray>

// Strict decoding of the service's replies: the body must be one JSON object;
// a required key that is missing or of the wrong JSON type fails with
// ReplyDecodingError; unknown keys are ignored. Integers must be whole
// numbers that fit in 64 bits.
template <typename Record> Record decodeReply(const QByteArray &body);

template <> CreateResponse decodeReply<CreateResponse>(const QByteArray &body);
template <> PartResponse decodeReply<PartResponse>(const QByteArray &body);
template <> VideoInfo decodeReply<VideoInfo>(const QByteArray &body);
template <> VideoList decodeReply<VideoList>(const QByteArray &body);
template <> KeepResponse decodeReply<KeepResponse>(const QByteArray &body);
template <> TitleResponse decodeReply<TitleResponse>(const QByteArray &body);
