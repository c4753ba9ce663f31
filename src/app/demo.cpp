#include "app/demo.h"

#include <stdlib.h>
#ifdef _WIN32
#include <io.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/interrupt_watcher.h"
#include "platform/utf8_path.h"

namespace fs = std::filesystem;

namespace {

constexpr char kScriptName[] = "demo.cmd";
constexpr char kDataName[] = "demo.lzs";
constexpr std::size_t kDataSize = 20000;
#ifdef _WIN32
constexpr char kDemoLineName[] = "DEMO";
#endif

bool WriteFile(const fs::path& path, const void* data, std::size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(file);
}

// Replaces the XXXXXX that ends folderTemplate with a name that makes a new
// folder, and creates it; false with errno set when none can be made.
bool MakeTemporaryFolder(char* folderTemplate) {
#ifdef _WIN32
    // The C runtime's mktemp keeps only 26 names per template and process:
    // try a few, the folder's creation deciding.
    const std::string pattern = folderTemplate;
    for (int attempt = 0; attempt < 26; ++attempt) {
        std::strcpy(folderTemplate, pattern.c_str());
        if (_mktemp_s(folderTemplate, pattern.size() + 1) != 0)
            return false;
        std::error_code error;
        if (fs::create_directory(PathFromUtf8(folderTemplate), error))
            return true;
        errno = error ? error.value() : EEXIST;
    }
    return false;
#else
    return mkdtemp(folderTemplate) != nullptr;
#endif
}

}  // namespace

std::vector<std::string> DemoSession::ExpectedCommands() { return {"E123456", "Q", "X"}; }

std::vector<unsigned char> DemoSession::DemoData() {
    // Reproducible bytes (xorshift32) that look like compressed data.
    std::vector<unsigned char> data(kDataSize);
    std::uint32_t state = 0x2545F491u;
    for (unsigned char& byte : data) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<unsigned char>(state >> 24);
    }
    return data;
}

std::unique_ptr<DemoSession> DemoSession::Create(std::string* reason) {
    std::unique_ptr<DemoSession> session(new DemoSession);
    std::string folderTemplate = Utf8FromPath(fs::temp_directory_path() / "receiver-downloader-demo.XXXXXX");
    if (!MakeTemporaryFolder(folderTemplate.data())) {
        *reason = std::string("cannot create a temporary folder: ") + std::strerror(errno);
        return nullptr;
    }
    session->m_strFolder = folderTemplate;
    const fs::path folder = PathFromUtf8(folderTemplate);
    session->m_strScriptPath = Utf8FromPath(folder / kScriptName);

    // Each command on a line of its own, CR LF line ends.
    const std::string script = std::string("CE123456\r\nCQ\r\nS") + kDataName + "\r\nCX\r\n";
    const std::vector<unsigned char> data = DemoData();
    if (!WriteFile(session->m_strScriptPath, script.data(), script.size()) ||
        !WriteFile(folder / kDataName, data.data(), data.size())) {
        *reason = "cannot write the sample files to " + folderTemplate;
        return nullptr;
    }

    SimOptions options;
    // At a real line's pace, so that the progress can be watched.
    options.paced = true;
#ifdef _WIN32
    // Windows has no pseudo-terminals: the receiver sits on the far end of a
    // line inside the process, which the tool opens by its name.
    session->m_pSim = ReceiverSim::CreateMemoryLine(kDemoLineName, options, reason);
#else
    // A pseudo-terminal, so that the demo runs through the system's own
    // serial code.
    session->m_pSim = ReceiverSim::CreatePty(options, reason);
#endif
    if (!session->m_pSim)
        return nullptr;
    // Ctrl-C is the operator's, for the run: the receiver's thread never takes it.
    const WatchedSignalsBlocked signalsForTheRun;
    session->m_pSim->Start();
    return session;
}

DemoSession::~DemoSession() {
    if (m_pSim)
        m_pSim->Stop();
    if (!m_strFolder.empty()) {
        std::error_code error;
        fs::remove_all(PathFromUtf8(m_strFolder), error);
    }
}

const std::string& DemoSession::Device() const { return m_pSim->ToolPath(); }

bool DemoSession::Finish(std::FILE* out, bool runSucceeded) {
    const std::vector<std::string> expected = ExpectedCommands();
    if (runSucceeded) {
        m_pSim->WaitUntil([&expected](const SimReport& report) { return report.commands.size() >= expected.size(); },
                          std::chrono::seconds(30));
    }
    m_pSim->Stop();
    const SimReport report = m_pSim->Report();

    const std::vector<unsigned char> sent = DemoData();
    const std::string sentSha256 = Sha256Hex(sent.data(), sent.size());
    const bool fileWhole = report.files.size() == 1 && report.files[0].complete &&
                           report.files[0].size == sent.size() && report.files[0].sha256 == sentSha256;
    const bool commandsWhole = report.commands == expected;

    std::fprintf(out, "\nSimulated receiver:\n%s\n", report.Summary().c_str());
    std::fprintf(out, "Data file sent: %s, %zu bytes, SHA-256 %s\n", kDataName, sent.size(),
                 sentSha256.c_str());
    if (fileWhole && commandsWhole && report.errors.empty())
        std::fprintf(out, "Demo: the receiver got every command and the data file whole (SHA-256 equal).\n");
    else if (runSucceeded)
        std::fprintf(out, "Demo: the receiver's record differs from what was to be sent.\n");
    else
        std::fprintf(out, "Demo: the download did not complete; the record above is what the receiver got.\n");
    std::fflush(out);
    return fileWhole && commandsWhole && report.errors.empty();
}
