#include "upload/script_reader.h"

#include <algorithm>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "link/frame_format.h"
#include "upload/regular_file.h"

namespace {

constexpr unsigned char kCR = 0x0D;
constexpr unsigned char kLF = 0x0A;

bool StartsLetterCommand(unsigned char byte) { return byte == 'C' || byte == 'c'; }

bool StartsFileCommand(unsigned char byte) {
    return byte == 'F' || byte == 'f' || byte == 'S' || byte == 's';
}

// A blank or a control byte: not text of a line.
bool IsBlank(unsigned char byte) { return byte <= 0x20 || byte == 0x7F; }

// How much of a script's start is looked at for UTF-16.
constexpr std::size_t kUtf16SampleBytes = 64;

// UTF-16 text: a byte-order mark (FF FE, FE FF), or two or more characters
// each with a NUL in the same half and none in the other (ASCII text saved
// as UTF-16 without a mark).
bool LooksLikeUtf16(const unsigned char* bytes, std::size_t size) {
    if (size >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF)))
        return true;
    const std::size_t pairs = size / 2;
    if (pairs < 2)
        return false;
    for (std::size_t nulHalf : {0, 1}) {
        std::size_t i = 0;
        while (i < pairs && bytes[2 * i + nulHalf] == 0 && bytes[2 * i + 1 - nulHalf] != 0)
            ++i;
        if (i == pairs)
            return true;
    }
    return false;
}

}  // namespace

ScriptReader::ScriptReader(std::string strPath) : m_strPath(std::move(strPath)) {
    m_szCommand[0] = 0;
    int fd = -1;
    long long size = 0;
    int error = 0;
    switch (OpenRegularFile(m_strPath, &fd, &size, &error)) {
    case RegularFileOpen::Opened:
        m_file = ::fdopen(fd, "rb");
        if (!m_file) {
            Fail(UploadFault::ScriptUnopenable, errno);
            ::close(fd);
        }
        break;
    case RegularFileOpen::Directory:
    case RegularFileOpen::NotRegular:
        Fail(UploadFault::ScriptNotRegular, 0);
        break;
    case RegularFileOpen::Missing:
    case RegularFileOpen::Failed:
        Fail(UploadFault::ScriptUnopenable, error);
        break;
    }
}

ScriptReader::~ScriptReader() {
    if (m_file)
        std::fclose(m_file);
}

int ScriptReader::GetFirstCommand() {
    if (m_file && !HasFailed() && std::fseek(m_file, 0, SEEK_SET) != 0)
        Fail(UploadFault::ScriptUnreadable, errno);
    if (m_file && !HasFailed())
        RefuseUtf16();
    m_nLine = 1;
    m_bAfterCR = false;
    m_nCommandLine = m_nSkippedLine = 0;
    m_strSkipped.clear();
    m_skippedLines.clear();
    return ReadCommand();
}

int ScriptReader::GetNextCommand() { return ReadCommand(); }

// Its bytes would read as commands of NUL bytes and '?': one fault for the
// script as a whole says what to do instead.
void ScriptReader::RefuseUtf16() {
    unsigned char start[kUtf16SampleBytes];
    const std::size_t size = std::fread(start, 1, sizeof start, m_file);
    if (std::ferror(m_file) || std::fseek(m_file, 0, SEEK_SET) != 0)
        Fail(UploadFault::ScriptUnreadable, errno);
    else if (LooksLikeUtf16(start, size))
        Fail(UploadFault::ScriptUtf16, 0);
}

std::string ScriptReader::ScriptDirectory() const {
#ifdef _WIN32
    const std::size_t slash = m_strPath.find_last_of("\\/");
#else
    const std::size_t slash = m_strPath.rfind('/');
#endif
    return slash == std::string::npos ? std::string() : m_strPath.substr(0, slash + 1);
}

std::vector<ScriptReader::SkippedLine> ScriptReader::TakeSkippedLines() {
    return std::exchange(m_skippedLines, {});
}

int ScriptReader::ReadCommand() {
    m_szCommand[0] = 0;
    m_strCommand.clear();
    for (;;) {
        const std::size_t line = m_nLine;
        unsigned char byte = 0;
        if (ReadByte(byte) != ReadResult::Byte) {
            EndSkippedLine();
            return 0;
        }
        if (StartsLetterCommand(byte) || StartsFileCommand(byte)) {
            m_nCommandLine = line;
            return StartsLetterCommand(byte) ? ReadLetterCommand() : ReadFileCommand();
        }
        if (m_bKeepSkipped)
            NoteSkipped(line, byte);
    }
}

// A byte skipped between commands, on the given line. Its text is kept
// until the line ends; whether a command started on it is known by then.
void ScriptReader::NoteSkipped(std::size_t line, unsigned char byte) {
    if (line != m_nSkippedLine) {
        EndSkippedLine();
        m_nSkippedLine = line;
    }
    if (byte == kCR || byte == kLF)
        EndSkippedLine();
    else if ((!m_strSkipped.empty() || !IsBlank(byte)) && m_strSkipped.size() <= kSkippedTextBytes)
        m_strSkipped.push_back(static_cast<char>(byte));
}

void ScriptReader::EndSkippedLine() {
    if (m_strSkipped.size() <= kSkippedTextBytes)
        while (!m_strSkipped.empty() && IsBlank(static_cast<unsigned char>(m_strSkipped.back())))
            m_strSkipped.pop_back();
    if (!m_strSkipped.empty() && m_nSkippedLine != m_nCommandLine)
        m_skippedLines.push_back({m_nSkippedLine, m_strSkipped});
    m_strSkipped.clear();
}

// The byte after 'C' or 'c', with nothing skipped in between.
int ScriptReader::ReadLetterCommand() {
    unsigned char letter = 0;
    if (ReadByte(letter) != ReadResult::Byte)
        return 0;  // the script ends right after the 'C' (or cannot be read)
    switch (letter) {
    case 'E':
    case 'e':
        return ReadEArgument();
    case 'Q':
    case 'q':
        SetCommandText("Q");
        return 1;
    case 'X':
    case 'x':
        SetCommandText("X");
        return 1;
    default:
        // Unknown letter (0x00 included): handed on for the executor to report.
        SetCommandText(std::string(1, static_cast<char>(letter)));
        return 1;
    }
}

// Appends the bytes up to the next CR or LF (or the end of the script) to
// text while it is shorter than limit; the rest up to the line end is read
// and dropped, so that the next request starts after it. False on a read
// error.
bool ScriptReader::ReadUpToLineEnd(std::string& text, std::size_t limit) {
    unsigned char byte = 0;
    for (;;) {
        ReadResult result = ReadByte(byte);
        if (result == ReadResult::Error)
            return false;
        if (result == ReadResult::End || byte == kCR || byte == kLF)
            return true;
        if (text.size() < limit)
            text.push_back(static_cast<char>(byte));
    }
}

// Argument bytes up to the line end, byte for byte. What does not fit in
// m_szCommand is read and dropped so that the next request starts after the
// line end; only the first 6 argument bytes travel anyway.
int ScriptReader::ReadEArgument() {
    std::string text = "E";
    if (!ReadUpToLineEnd(text, kCommandSize - 1))
        return 0;
    SetCommandText(text, frame::kEFieldSize);
    return static_cast<int>(m_strCommand.size());
}

// Name bytes up to the line end; '\' becomes '/'. The text is 'S' + the
// script's directory + the name, whichever of F, f, S, s started it.
int ScriptReader::ReadFileCommand() {
    std::string name;
    if (!ReadUpToLineEnd(name, kMaxNameBytes))
        return 0;
#ifdef _WIN32
    // The system's own separator: a long-path name (\\?\Z:\...) takes no '/'.
    std::replace(name.begin(), name.end(), '/', '\\');
#else
    std::replace(name.begin(), name.end(), '\\', '/');
#endif
    SetCommandText("S" + ScriptDirectory() + name);
    return static_cast<int>(m_strCommand.size());
}

// Keeps text whole in m_strCommand and as far as it fits, NUL-terminated, in
// m_szCommand, followed by zero bytes up to fieldSize (at least the NUL).
void ScriptReader::SetCommandText(const std::string& text, std::size_t fieldSize) {
    m_strCommand = text;
    std::size_t kept = std::min(text.size(), kCommandSize - 1);
    std::memcpy(m_szCommand, text.data(), kept);
    std::size_t end = std::max(kept + 1, std::min(fieldSize, kCommandSize));
    std::memset(m_szCommand + kept, 0, end - kept);
}

// One byte per request; the FILE's own buffer makes that cheap.
ScriptReader::ReadResult ScriptReader::ReadByte(unsigned char& byte) {
    if (!m_file || HasFailed())
        return ReadResult::Error;
    int c = std::getc(m_file);
    if (c != EOF) {
        byte = static_cast<unsigned char>(c);
        if (byte == kCR || (byte == kLF && !m_bAfterCR))
            ++m_nLine;
        m_bAfterCR = byte == kCR;
        return ReadResult::Byte;
    }
    if (std::ferror(m_file)) {
        Fail(UploadFault::ScriptUnreadable, errno);
        return ReadResult::Error;
    }
    return ReadResult::End;
}

void ScriptReader::Fail(UploadFault fault, int error) {
    m_fault = fault;
    m_nError = error;
}
