// The script reader fed any bytes as a script file.
//
// Each input is written to a script file and read to its end twice (the
// second pass starts again with GetFirstCommand). Checked: nothing
// overflows or reads out of bounds (the sanitizers), every request takes at
// least one byte so the reading ends, each result is the length of
// m_strCommand, m_szCommand is NUL-terminated within its buffer and is the
// start of m_strCommand, a file command's text is 'S' + the script's
// directory + the name, and both passes give the same commands.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "upload/script_reader.h"

namespace {

std::string g_scriptPath;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

void CheckCommand(const ScriptReader& reader, int length) {
    if (length < 0 || static_cast<std::size_t>(length) != reader.m_strCommand.size())
        Fail("the result is not the length of the command text");
    const std::size_t shortLength = strnlen(reader.m_szCommand, ScriptReader::kCommandSize);
    if (shortLength == ScriptReader::kCommandSize)
        Fail("m_szCommand is not NUL-terminated within its buffer");
    if (reader.m_strCommand.compare(0, shortLength, reader.m_szCommand, shortLength) != 0)
        Fail("m_szCommand is not the start of m_strCommand");
    // "CS" is the letter command S, text "S" alone; only a file command
    // carries a name.
    if (reader.m_strCommand[0] == 'S' && length > 1 && !reader.m_strCommand.starts_with("S" + reader.ScriptDirectory()))
        Fail("a file command does not name a file in the script's directory");
}

std::vector<std::string> ReadAll(ScriptReader& reader, std::size_t size) {
    std::vector<std::string> commands;
    for (int length = reader.GetFirstCommand(); length != 0; length = reader.GetNextCommand()) {
        CheckCommand(reader, length);
        commands.push_back(reader.m_strCommand);
        if (commands.size() > size)
            Fail("more commands than bytes in the script");
    }
    if (reader.HasFailed()) {
        // The one refusal a readable file may get: text saved as UTF-16,
        // whose commands cannot be read at all.
        if (reader.Fault() != UploadFault::ScriptUtf16)
            Fail("a readable script was reported as unreadable");
        if (!commands.empty())
            Fail("a script taken for UTF-16 gave commands");
    }
    return commands;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/rd-fuzz-script-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        Fail("no temporary folder");
    g_scriptPath = std::string(folder) + "/load.cmd";
    std::atexit([] {
        unlink(g_scriptPath.c_str());
        rmdir(g_scriptPath.substr(0, g_scriptPath.rfind('/')).c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(g_scriptPath.c_str(), "wb");
    if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0)
        Fail("cannot write the script file");

    ScriptReader reader(g_scriptPath);
    const std::vector<std::string> first = ReadAll(reader, size);
    // UTF-16 shows as a byte-order mark or as NULs: plain text has neither.
    const std::size_t sample = std::min<std::size_t>(size, 64);
    const bool mark = size >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF));
    if (reader.Fault() == UploadFault::ScriptUtf16 && !mark && std::find(data, data + sample, 0) == data + sample)
        Fail("a script with neither a byte-order mark nor a NUL was taken for UTF-16");
    if (ReadAll(reader, size) != first)
        Fail("reading the script again gives other commands");
    return 0;
}
