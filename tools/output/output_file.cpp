#include "tools/output/output_file.h"

#include "tools/shared/ffmpeg.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace fs = std::filesystem;

namespace tarv {
namespace {

// Read by the capture thread too: an atomic, lock-free so the handler may set it.
std::atomic<int> g_interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free);

std::atomic<void (*)()> g_forcedExit{nullptr};

} // namespace

// The temporary name of an unfinished output, for a second signal to remove.
struct PendingName {
    std::atomic<bool> used{false};
    std::atomic<bool> set{false};
    char path[4096] = {};
};

namespace {

PendingName g_pending[4];
static_assert(std::atomic<bool>::is_always_lock_free);

PendingName* Register(const std::string& path)
{
    if (path.size() >= sizeof PendingName::path)
        return nullptr;
    for (PendingName& p : g_pending) {
        bool expected = false;
        if (p.used.compare_exchange_strong(expected, true)) {
            std::memcpy(p.path, path.c_str(), path.size() + 1);
            p.set = true;
            return &p;
        }
    }
    return nullptr;
}

void Unregister(PendingName*& p)
{
    if (p == nullptr)
        return;
    p->set = false;
    p->used = false;
    p = nullptr;
}

// A temporary file, or a temporary folder and the images in it, with the
// system calls alone that a signal handler may make.
void RemoveInHandler(const char* path)
{
    if (unlink(path) == 0)
        return;
    const int folder = open(path, O_RDONLY | O_DIRECTORY);
    if (folder < 0)
        return;
    alignas(dirent64) char buffer[4096];
    ssize_t got = 0;
    while ((got = getdents64(folder, buffer, sizeof buffer)) > 0)
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                unlinkat(folder, entry->d_name, 0);
            at += entry->d_reclen;
        }
    close(folder);
    rmdir(path);
}

void OnSignal(int signal)
{
    // A second one ends the program at once, should the first not get through.
    if (g_interrupted.exchange(1) != 0) {
        if (void (*cleanup)() = g_forcedExit.load())
            cleanup();
        for (PendingName& p : g_pending)
            if (p.set)
                RemoveInHandler(p.path);
        std::_Exit(128 + signal);
    }
}

bool IsSequence(const std::string& name)
{
    return av_filename_number_test(name.c_str()) != 0;
}

std::string Folder(const std::string& name)
{
    const fs::path parent = fs::path(name).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// The file that `name` writes first: itself, or a sequence's first image.
std::string FirstFile(const std::string& name)
{
    if (!IsSequence(name))
        return name;
    std::vector<char> first(name.size() + 32);
    if (av_get_frame_filename(first.data(), static_cast<int>(first.size()), name.c_str(), 1) < 0)
        return name;
    return first.data();
}

void CheckExisting(const std::string& name, const std::vector<std::string>& inputs, bool overwrite)
{
    const std::string first = FirstFile(name);
    std::error_code ec;
    if (!fs::exists(first, ec))
        return;
    for (const std::string& input : inputs)
        if (fs::equivalent(first, input, ec))
            throw ToolError(Where(name, -1, "is the input " + input + ": choose another output"));
    if (!overwrite)
        throw ToolError(Where(first, -1, "exists: use -y (--overwrite) to replace it"));
}

} // namespace

OutputFile::OutputFile(const std::string& name, const std::vector<std::string>& inputs,
                       bool overwrite)
    : m_name(name)
{
    const std::string folder = Folder(name);
    const std::string base = fs::path(name).filename().string();
    if (base.empty())
        throw ToolError(Where(name, -1, "is not a file name"));
    CheckExisting(name, inputs, overwrite);
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        throw ToolError(Where(name, -1, "cannot write: folder " + folder + " does not exist"));
    if (IsSequence(name)) {
        // No part of the pattern in the folder's name: image2 would expand it.
        std::string pattern = folder + "/.tarv-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) == nullptr)
            throw ToolError(Where(name, -1, std::string("cannot write: ") + std::strerror(errno)));
        m_folder = buffer.data();
        m_writePath = m_folder + "/" + base;
        m_pending = Register(m_folder);
        return;
    }
    std::string pattern = folder + "/." + base + ".tarv-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    if (fd < 0)
        throw ToolError(Where(name, -1, std::string("cannot write: ") + std::strerror(errno)));
    // mkstemp makes the file private; give it the mode any new file gets.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    m_writePath = buffer.data();
    m_pending = Register(m_writePath);
}

OutputFile::~OutputFile()
{
    if (!m_committed)
        Discard();
}

void OutputFile::Discard() noexcept
{
    Unregister(m_pending);
    std::error_code ec;
    if (m_folder.empty())
        fs::remove(m_writePath, ec);
    else
        fs::remove_all(m_folder, ec);
}

void OutputFile::Commit()
{
    std::error_code ec;
    if (m_folder.empty()) {
        fs::rename(m_writePath, m_name, ec);
        if (ec)
            throw ToolError(Where(m_name, -1, "cannot write: " + ec.message()));
    } else {
        const fs::path target = Folder(m_name);
        for (const auto& entry : fs::directory_iterator(m_folder)) {
            fs::rename(entry.path(), target / entry.path().filename(), ec);
            if (ec)
                throw ToolError(Where(m_name, -1, "cannot write: " + ec.message()));
        }
        fs::remove(m_folder, ec);
    }
    Unregister(m_pending);
    m_committed = true;
}

void CatchInterrupts()
{
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
}

void AtForcedExit(void (*cleanup)())
{
    g_forcedExit = cleanup;
}

bool Interrupted()
{
    return g_interrupted != 0;
}

} // namespace tarv
