// ScriptReader: hands out the commands of a command script (.cmd), one per
// request.
//
// The script is a byte stream, not a list of lines. A command starts wherever
// one of six letters stands; every other byte between commands is skipped:
//
//   'C' / 'c'            letter command: the very next byte is the command letter
//     'E' / 'e'          argument = every byte up to the line end (not
//                        included); text 'E' + argument, zero-filled to 7 bytes
//     'Q' / 'q'          text "Q"; nothing after the letter is consumed
//     'X' / 'x'          text "X"; nothing after the letter is consumed
//     any other byte b   text b alone, unchanged (the executor rejects it)
//   'F' 'f' 'S' 's'      file command: name = the bytes up to the line end;
//                        text 'S' + the script's directory + the name
//
// Only the command letter is brought to upper case. A line end is CR, LF or
// CR LF alike, so that scripts made on Windows and on Linux read the same:
// the CR or LF ends an argument or name, and a LF after a CR (or any blank
// line) is skipped by the next request.
//
// Paths: the script's directory is its path up to and including the last '/'.
// Scripts written on Windows name their files with backslashes; inside a file
// command's name every '\' is taken as a directory separator and becomes '/'
// (on Windows every '/' becomes '\': a long-path name, \\?\Z:\..., takes no
// '/').
// Letter case of the name is kept here; the executor finds a file whose name
// differs only in case when it opens it (FindFileIgnoringCase).
//
// Limits: nothing overflows. m_szCommand holds 80 bytes: an 'E' argument
// longer than 78 bytes is consumed up to its line end and kept as far as the buffer
// goes. A file command's text is not limited to that buffer: its full text is
// in m_strCommand (m_szCommand holds a copy cut to 79 bytes); a name is kept
// up to kMaxNameBytes and consumed beyond that, so that the executor sees a
// path too long to open and can say so.
//
// The end of the file inside an 'E' argument or a file name ends it there:
// the part read is returned as a command (a last line without a line end
// works).
//
// Only a regular file is read as a script: a directory, device or FIFO is
// refused when the reader is constructed, without waiting in open(). A
// script saved as UTF-16 (a byte-order mark FF FE or FE FF, or a NUL in
// the same half of every character of its start) is refused as a whole by
// GetFirstCommand (ScriptUtf16), rather than read as unknown commands.
//
// Lines: a script check asks to be told of the lines that hold text but on
// which no command starts (KeepSkippedLines): the reader skips them whole,
// so a command letter written without its 'C' never goes out. Lines are
// counted as the line ends above end them.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "upload/upload_fault.h"

class ScriptReader {
public:
    static constexpr std::size_t kCommandSize = 80;
    // More than any platform's path limit; longer names are cut here (and
    // rejected as too long by the executor).
    static constexpr std::size_t kMaxNameBytes = 8192;

    // Opens the script at strPath for reading. A failure to open is not an
    // error yet: the first request returns 0 and Fault() tells why.
    explicit ScriptReader(std::string strPath);
    ~ScriptReader();
    ScriptReader(const ScriptReader&) = delete;
    ScriptReader& operator=(const ScriptReader&) = delete;

    // Moves to the start of the script, then ReadCommand().
    int GetFirstCommand();
    // ReadCommand().
    int GetNextCommand();

    // Scans from the current position to the next command and leaves its
    // text in m_szCommand and m_strCommand. Returns the length of the
    // command's full text (m_strCommand.size()), or 0 when there is no
    // further command: the end of the script, or a failure to read it
    // (HasFailed() then is true and Fault() says why; every later request
    // returns 0 as well).
    //
    // A 'C' followed by a 0x00 byte is returned as a command of length 1
    // whose letter is 0x00 (an unknown command), so that a script that is
    // not plain text (UTF-16, say) is reported rather than cut short.
    int ReadCommand();

    // True once the script could not be opened or a read failed (other than
    // at its end).
    bool HasFailed() const { return m_fault != UploadFault::None; }
    // ScriptUnopenable, ScriptNotRegular, ScriptUnreadable or ScriptUtf16 after a
    // failure, UploadFault::None before; Error() is the errno behind it.
    UploadFault Fault() const { return m_fault; }
    int Error() const { return m_nError; }
    const std::string& Path() const { return m_strPath; }

    // The script's directory, up to and including its last '/', or "" when
    // its path has none.
    std::string ScriptDirectory() const;

    // A line on which no command starts but that holds text: printable
    // bytes other than blanks (bytes from 0x80 on count as text). m_strText
    // runs from its first to its last such byte, cut to kSkippedTextBytes
    // (a longer text has one byte more, so that the cut shows).
    struct SkippedLine {
        std::size_t m_nLine = 0;  // from 1
        std::string m_strText;
    };
    static constexpr std::size_t kSkippedTextBytes = 60;
    // From now on, notes such lines as the requests pass them.
    void KeepSkippedLines() { m_bKeepSkipped = true; }
    // The lines noted since the last call, in script order. A line is
    // noted once the reader has passed its end (or the script's end) and
    // knows that no command started on it.
    std::vector<SkippedLine> TakeSkippedLines();

    // Text of the last command read, NUL-terminated; its first byte is the
    // command letter. A file command's text is cut to fit.
    char m_szCommand[kCommandSize];
    // The same text, whole: for a file command 'S' + directory + name (the
    // data file's path from its second byte on). For every other command
    // the same bytes as m_szCommand (up to its terminating NUL for all but an
    // 'E' whose argument holds 0x00 bytes, which are kept here).
    std::string m_strCommand;

private:
    enum class ReadResult { Byte, End, Error };

    ReadResult ReadByte(unsigned char& byte);
    int ReadLetterCommand();
    bool ReadUpToLineEnd(std::string& text, std::size_t limit);
    int ReadEArgument();
    int ReadFileCommand();
    void SetCommandText(const std::string& text, std::size_t fieldSize = 0);
    void Fail(UploadFault fault, int error);
    void RefuseUtf16();
    void NoteSkipped(std::size_t line, unsigned char byte);
    void EndSkippedLine();

    std::string m_strPath;
    std::FILE* m_file = nullptr;
    UploadFault m_fault = UploadFault::None;
    int m_nError = 0;

    // Lines: the line of the next byte, and whether the last byte was a CR
    // (a LF after it ends no further line).
    std::size_t m_nLine = 1;
    bool m_bAfterCR = false;
    // Skipped lines, with KeepSkippedLines only.
    bool m_bKeepSkipped = false;
    std::size_t m_nCommandLine = 0;  // where the last command started
    std::size_t m_nSkippedLine = 0;  // the line whose skipped text is pending
    std::string m_strSkipped;        // its text so far, without leading blanks
    std::vector<SkippedLine> m_skippedLines;
};
