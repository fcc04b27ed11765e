#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// Picture buffers handed to the encoder come back here when released, so a
// recording allocates only a handful of them.
struct FrameBufferPool {
    std::mutex mutex;
    std::vector<std::unique_ptr<uint8_t[]>> free;
    std::size_t bytes = 0;

    static std::shared_ptr<uint8_t[]> take(const std::shared_ptr<FrameBufferPool> &pool)
    {
        std::unique_ptr<uint8_t[]> buffer;
        {
            std::lock_guard lock(pool->mutex);
            if (!pool->free.empty()) {
                buffer = std::move(pool->free.back());
                pool->free.pop_back();
            }
        }
        if (!buffer)
            buffer.reset(new uint8_t[pool->bytes]);
        std::weak_ptr<FrameBufferPool> weak = pool;
        return std::shared_ptr<uint8_t[]>(buffer.release(), [weak](uint8_t *p) {
            std::unique_ptr<uint8_t[]> owned(p);
            if (auto alive = weak.lock()) {
                std::lock_guard lock(alive->mutex);
                if (alive->free.size() < 4)
                    alive->free.push_back(std::move(owned));
            }
        });
    }
};
