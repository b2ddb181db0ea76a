#include "tools/output_file.h"

#include "tools/ffmpeg.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
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

void OnSignal(int signal)
{
    // A second one ends the program at once, should the first not get through.
    if (g_interrupted.exchange(1) != 0) {
        if (void (*cleanup)() = g_forcedExit.load())
            cleanup();
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
}

OutputFile::~OutputFile()
{
    if (!m_committed)
        Discard();
}

void OutputFile::Discard() noexcept
{
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
