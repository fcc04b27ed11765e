#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <unordered_map>

// Locks by key (a video id, or an id and a part number): work on the same key
// is serialised, different keys proceed in parallel. A key can be held
// exclusively or shared by several at once. Entries exist only while in use.
class KeyedMutex {
public:
    class Guard {
    public:
        Guard(KeyedMutex &owner, std::string key, bool shared)
            : m_owner(&owner), m_key(std::move(key)), m_shared(shared)
        {
            m_owner->acquire(m_key, m_shared);
        }
        ~Guard()
        {
            if (m_owner)
                m_owner->release(m_key, m_shared);
        }
        Guard(Guard &&other) noexcept : m_owner(other.m_owner), m_key(std::move(other.m_key)), m_shared(other.m_shared)
        {
            other.m_owner = nullptr;
        }
        Guard(const Guard &) = delete;
        Guard &operator=(const Guard &) = delete;
        Guard &operator=(Guard &&) = delete;

    private:
        KeyedMutex *m_owner;
        std::string m_key;
        bool m_shared;
    };

    Guard lock(const std::string &key) { return Guard(*this, key, false); }
    Guard lockShared(const std::string &key) { return Guard(*this, key, true); }

private:
    struct Entry {
        int sharedHolders = 0;
        bool exclusive = false;
        int users = 0; // holders and waiters
    };

    void acquire(const std::string &key, bool shared)
    {
        std::unique_lock lk(m_mutex);
        Entry &e = m_entries[key];
        ++e.users;
        if (shared) {
            m_changed.wait(lk, [&] { return !e.exclusive; });
            ++e.sharedHolders;
        } else {
            m_changed.wait(lk, [&] { return !e.exclusive && e.sharedHolders == 0; });
            e.exclusive = true;
        }
    }

    void release(const std::string &key, bool shared)
    {
        std::lock_guard lk(m_mutex);
        auto it = m_entries.find(key);
        if (shared)
            --it->second.sharedHolders;
        else
            it->second.exclusive = false;
        if (--it->second.users == 0)
            m_entries.erase(it);
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::unordered_map<std::string, Entry> m_entries;
};
