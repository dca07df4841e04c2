#pragma once

// Components with owners, string lists, file streams and a re-entrant lock:
// the small part of a component library the socket and FTP components use.

#include "platform/SysUtils.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

class TComponent;

using TNotifyEvent = std::function<void(TComponent* Sender)>;

// A component may have an owner; the owner frees what it owns when it is
// destroyed. Deleting an owned component first removes it from its owner.
class TComponent {
public:
    explicit TComponent(TComponent* owner);
    virtual ~TComponent();

    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return m_owner; }
    const std::vector<TComponent*>& Components() const { return m_components; }
    // True while the component is edited in a form designer; never here.
    bool Designing() const { return false; }

    std::string Name;

private:
    void InsertComponent(TComponent* child);
    void RemoveComponent(TComponent* child);

    TComponent* m_owner = nullptr;
    std::vector<TComponent*> m_components;
};

// An ordered list of texts that accepts duplicates.
class TStringList {
public:
    void Add(std::string s) { m_items.push_back(std::move(s)); }
    void Clear() { m_items.clear(); }
    int Count() const { return static_cast<int>(m_items.size()); }
    const std::string& operator[](int i) const { return m_items.at(static_cast<std::size_t>(i)); }
    const std::vector<std::string>& Items() const { return m_items; }

private:
    std::vector<std::string> m_items;
};

class EStreamError : public Exception {
public:
    using Exception::Exception;
};
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// A seekable byte stream with 64-bit positions.
class TStream {
public:
    virtual ~TStream() = default;
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Size() = 0;
    virtual std::int64_t Position() = 0;
    virtual void SetPosition(std::int64_t pos) = 0;
};

enum class FileMode {
    OpenRead,  // an existing file, for reading
    OpenWrite, // an existing file, for writing, positioned at its start
    Create,    // create the file, or empty an existing one
};

// A file opened without any buffering of its own: every Read and Write goes
// straight to the system, so blocks of 64 KiB pass without another copy.
class TFileStream final : public TStream {
public:
    // Raises EFOpenError "Cannot open file "<name>". <reason>" or, for
    // FileMode::Create, EFCreateError "Cannot create file "<name>". <reason>".
    TFileStream(const std::string& fileName, FileMode mode);
    ~TFileStream() override;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    // Writes all count bytes or raises EWriteError.
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Size() override;
    std::int64_t Position() override;
    void SetPosition(std::int64_t pos) override;
    std::int64_t Seek(std::int64_t offset, int whence);

    const std::string& FileName() const { return m_fileName; }

private:
    std::string m_fileName;
    int m_fd = -1;
};

// A critical section that the thread holding it may enter again.
class TCriticalSection {
public:
    void Enter() { m_mutex.lock(); }
    void Leave() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

} // namespace platform
