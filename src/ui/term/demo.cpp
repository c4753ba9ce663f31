#include "ui/term/demo.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace {

constexpr char kScriptName[] = "demo.cmd";
constexpr char kDataName[] = "demo.lzs";
constexpr std::size_t kDataSize = 20000;

bool WriteFile(const fs::path& path, const void* data, std::size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(file);
}

// A new folder of the process's own under the temporary folder (create_directory
// fails for a name that exists, so two demos never share one).
bool MakeTemporaryFolder(fs::path* folder, std::string* reason) {
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    if (error) {
        *reason = "cannot find the temporary folder: " + error.message();
        return false;
    }
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = base / ("receiver-downloader-demo." + std::to_string(random() % 1000000000u));
        if (fs::create_directory(candidate, error)) {
            *folder = candidate;
            return true;
        }
        if (error) {
            *reason = "cannot create a temporary folder: " + error.message();
            return false;
        }
    }
    *reason = "cannot create a temporary folder in " + base.string();
    return false;
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
    fs::path folder;
    if (!MakeTemporaryFolder(&folder, reason))
        return nullptr;
    session->m_strFolder = folder.string();
    session->m_strScriptPath = (folder / kScriptName).string();

    // Each command on a line of its own, CR LF line ends.
    const std::string script = std::string("CE123456\r\nCQ\r\nS") + kDataName + "\r\nCX\r\n";
    const std::vector<unsigned char> data = DemoData();
    if (!WriteFile(session->m_strScriptPath, script.data(), script.size()) ||
        !WriteFile(folder / kDataName, data.data(), data.size())) {
        *reason = "cannot write the sample files to " + session->m_strFolder;
        return nullptr;
    }

    SimOptions options;
    // At a real line's pace, so that the progress can be watched.
    options.paced = true;
    session->m_pSim = ReceiverSim::CreatePty(options, reason);
    if (!session->m_pSim)
        return nullptr;
    session->m_pSim->Start();
    return session;
}

DemoSession::~DemoSession() {
    if (m_pSim)
        m_pSim->Stop();
    if (!m_strFolder.empty()) {
        std::error_code error;
        fs::remove_all(m_strFolder, error);
    }
}

const std::string& DemoSession::Device() const { return m_pSim->ToolPath(); }

bool DemoSession::Finish(std::FILE* out) {
    const std::vector<std::string> expected = ExpectedCommands();
    m_pSim->WaitUntil([&expected](const SimReport& report) { return report.commands.size() >= expected.size(); },
                      std::chrono::seconds(2));
    m_pSim->Stop();
    const SimReport report = m_pSim->Report();

    SimFile sent;
    sent.data = DemoData();
    const bool fileWhole = report.files.size() == 1 && report.files[0].complete &&
                           report.files[0].data == sent.data;
    const bool commandsWhole = report.commands == expected;

    std::fprintf(out, "\nSimulated receiver:\n%s\n", report.Summary().c_str());
    std::fprintf(out, "Data file sent: %s, %zu bytes, SHA-256 %s\n", kDataName, sent.data.size(),
                 sent.Sha256Hex().c_str());
    if (fileWhole && commandsWhole && report.errors.empty())
        std::fprintf(out, "Demo: the receiver got every command and the data file whole (SHA-256 equal).\n");
    else
        std::fprintf(out, "Demo: the receiver's record differs from what was to be sent.\n");
    std::fflush(out);
    return fileWhole && commandsWhole && report.errors.empty();
}
