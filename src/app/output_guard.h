// The guard over the files a run writes (--trace, --events, --record): none
// of them may name a file the run reads or uses (the script, a data file of
// the script, a serial port, the ports file) or another of them, in any
// mode. A clash is a usage error found before any file is opened, so that a
// refused run has created, cut or written nothing.
#pragma once

#include <string>
#include <vector>

// A file as the operator knows it.
struct NamedFile {
    std::string m_strWhat;  // "the script", "a data file of the script", "the events file", ...
    std::string m_strPath;
};

// A file the run writes, and the option that named it.
struct OutputFile {
    std::string m_strOption;  // "--events"
    NamedFile m_file;
};

// The script and the data files it names, those not found included (an
// output of that name would create the file the upload then sends).
std::vector<NamedFile> ScriptFiles(const std::string& script);

// Why the first output that is the same file as an input, or as an output
// before it, must be refused ("--events PATH names the script (PATH);
// choose another file"); "" when every output is a file of its own.
std::string FindOutputClash(const std::vector<OutputFile>& outputs, const std::vector<NamedFile>& inputs);
