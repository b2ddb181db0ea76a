// An output that appears under its name only when it is complete.
//
// Writers write to WritePath(): a hidden temporary file beside the target, or,
// for an image sequence (a name with a frame-number pattern such as
// frame%04d.png), a hidden temporary folder beside the targets. Commit()
// renames everything into place; destruction without Commit() removes it all,
// so a failed or interrupted run leaves nothing that looks finished.
//
// An output that is one of the inputs (the same file, or a link to it) is
// always refused; any other existing output is replaced only when the caller
// says so, as ffmpeg -y does.
#pragma once

#include <string>
#include <vector>

namespace tarv {

struct PendingName;

class OutputFile {
public:
    OutputFile(const std::string& name, const std::vector<std::string>& inputs, bool overwrite);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::string& Name() const { return m_name; }
    const std::string& WritePath() const { return m_writePath; }
    void Commit();

private:
    void Discard() noexcept;

    std::string m_name;
    std::string m_writePath;
    std::string m_folder;             // the temporary folder of a sequence, else empty
    PendingName* m_pending = nullptr; // where a second signal finds the temporary name
    bool m_committed = false;
};

// SIGINT and SIGTERM only raise a flag; long jobs check it between frames
// and stop through the normal error path, which removes unfinished outputs
// (a capture finishes its file instead). A second signal ends the program,
// removing the temporary files of unfinished outputs.
void CatchInterrupts();
bool Interrupted();
// What a second signal runs before it ends the program (only what is safe in
// a signal handler); null for nothing.
void AtForcedExit(void (*cleanup)());

} // namespace tarv
