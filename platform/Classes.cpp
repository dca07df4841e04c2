#include "platform/Classes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

TComponent::TComponent(TComponent* owner)
{
    if (owner)
        owner->InsertComponent(this);
}

TComponent::~TComponent()
{
    // Free owned components, last created first; each removes itself.
    while (!m_components.empty()) {
        TComponent* child = m_components.back();
        delete child;
    }
    if (m_owner)
        m_owner->RemoveComponent(this);
}

void TComponent::InsertComponent(TComponent* child)
{
    child->m_owner = this;
    m_components.push_back(child);
}

void TComponent::RemoveComponent(TComponent* child)
{
    auto it = std::find(m_components.begin(), m_components.end(), child);
    if (it != m_components.end())
        m_components.erase(it);
    child->m_owner = nullptr;
}

TFileStream::TFileStream(const std::string& fileName, FileMode mode)
    : m_fileName(fileName)
{
    int flags = O_CLOEXEC;
    switch (mode) {
    case FileMode::OpenRead:
        flags |= O_RDONLY;
        break;
    case FileMode::OpenWrite:
        flags |= O_WRONLY;
        break;
    case FileMode::Create:
        flags |= O_WRONLY | O_CREAT | O_TRUNC;
        break;
    }
    do {
        m_fd = ::open(fileName.c_str(), flags, 0666);
    } while (m_fd < 0 && errno == EINTR);
    if (m_fd < 0) {
        const std::string reason = std::strerror(errno);
        if (mode == FileMode::Create)
            throw EFCreateError("Cannot create file \"" + fileName + "\". " + reason);
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + reason);
    }
    struct stat st {};
    if (::fstat(m_fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(m_fd);
        m_fd = -1;
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(EISDIR));
    }
}

TFileStream::~TFileStream()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count)
{
    ssize_t n;
    do {
        n = ::read(m_fd, buffer, static_cast<std::size_t>(count));
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        throw EReadError(std::string("Stream read error. ") + std::strerror(errno));
    return n;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count)
{
    const char* p = static_cast<const char*>(buffer);
    std::int64_t left = count;
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, static_cast<std::size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw EWriteError(std::string("Stream write error. ") + std::strerror(errno));
        }
        p += n;
        left -= n;
    }
    return count;
}

std::int64_t TFileStream::Size()
{
    struct stat st {};
    if (::fstat(m_fd, &st) != 0)
        throw EReadError(std::string("Stream read error. ") + std::strerror(errno));
    return st.st_size;
}

std::int64_t TFileStream::Position()
{
    return Seek(0, SEEK_CUR);
}

void TFileStream::SetPosition(std::int64_t pos)
{
    Seek(pos, SEEK_SET);
}

std::int64_t TFileStream::Seek(std::int64_t offset, int whence)
{
    const off_t r = ::lseek(m_fd, static_cast<off_t>(offset), whence);
    if (r < 0)
        throw EReadError(std::string("Stream seek error. ") + std::strerror(errno));
    return r;
}

} // namespace platform
