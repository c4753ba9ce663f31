// The names of the run's events and of their fields: the one list the event
// writer (run_events.h) and the event reader (event_reader.h) share.
//
// Every event is one JSON object on one line, with kEvent, kTime and kPort.
// In the order a run writes them:
//   started      kScript, kFiles [{kPath, kSize, kSha256}...], kPid
//   port_opened  kDevice, and kWarning when its adapter slows the download
//   waiting, connected
//   command      kText (the line the operator sees), kCommand (the script
//                command itself: "E123456", "Q", "X", "S" + a data file's path)
//   progress     kFile, kBytes, kTotal, kPercent, kRate, kSecondsLeft
//   file_sent    kFile, kBytes, kSha256 (of the bytes that went out)
//   end          kResult (a result:: name), kOutcome (what ended the run,
//                "completed", "wait_timed_out", ...), kMessage, kExitStatus,
//                kSeconds, kBytes; and kBy when the station wrote it
//
// Names are bytes on POSIX systems and need not be UTF-8, which JSON text
// must be. A port, device, script or data file path (kPort, kDevice,
// kScript, kPath, kFile, and kCommand, which holds a data file's path) that
// is not valid UTF-8 is written readable, each stray byte as U+FFFD, with
// its bytes beside it in hex under the field's name plus "_hex"
// ("path_hex": "2f746d702f66ff2e62696e"), so that nothing is lost.
#pragma once

namespace event {

inline constexpr char kStarted[] = "started";
inline constexpr char kPortOpened[] = "port_opened";
inline constexpr char kWaiting[] = "waiting";
inline constexpr char kConnected[] = "connected";
inline constexpr char kCommand[] = "command";
inline constexpr char kProgress[] = "progress";
inline constexpr char kFileSent[] = "file_sent";
inline constexpr char kEnd[] = "end";

namespace field {
inline constexpr char kEvent[] = "event";
inline constexpr char kTime[] = "t";
inline constexpr char kPort[] = "port";
inline constexpr char kScript[] = "script";
inline constexpr char kFiles[] = "files";
inline constexpr char kPath[] = "path";
inline constexpr char kSize[] = "size";
inline constexpr char kSha256[] = "sha256";
inline constexpr char kPid[] = "pid";
inline constexpr char kDevice[] = "device";
inline constexpr char kWarning[] = "warning";  // port_opened: a slow adapter, told to the operator
inline constexpr char kText[] = "text";
inline constexpr char kCommand[] = "command";
inline constexpr char kFile[] = "file";
inline constexpr char kBytes[] = "bytes";
inline constexpr char kTotal[] = "total";
inline constexpr char kPercent[] = "percent";
inline constexpr char kRate[] = "rate";
inline constexpr char kSecondsLeft[] = "seconds_left";
inline constexpr char kResult[] = "result";
inline constexpr char kOutcome[] = "outcome";
inline constexpr char kMessage[] = "message";
inline constexpr char kExitStatus[] = "exit_status";
inline constexpr char kSeconds[] = "seconds";
inline constexpr char kBy[] = "by";  // end: "station" when the station wrote it in the run's place
// The bytes of a name that is not UTF-8, in hex, beside the readable field.
inline constexpr char kPortHex[] = "port_hex";
inline constexpr char kDeviceHex[] = "device_hex";
inline constexpr char kScriptHex[] = "script_hex";
inline constexpr char kPathHex[] = "path_hex";
inline constexpr char kFileHex[] = "file_hex";
inline constexpr char kCommandHex[] = "command_hex";
}  // namespace field

// The values of field::kResult.
namespace result {
inline constexpr char kSuccess[] = "success";
inline constexpr char kError[] = "error";
inline constexpr char kCancelled[] = "cancelled";
}  // namespace result

// The values of field::kOutcome: what ended the run.
namespace outcome {
inline constexpr char kCompleted[] = "completed";            // the whole script was carried out
inline constexpr char kIncomplete[] = "incomplete";          // no download took place
inline constexpr char kPortFailed[] = "port_failed";         // the port could not be opened or set up
inline constexpr char kCommunicationError[] = "communication_error";  // ERROR, or the line failed
inline constexpr char kSettingsRefused[] = "settings_refused";
inline constexpr char kScriptMissing[] = "script_missing";
inline constexpr char kScriptFault[] = "script_fault";       // the script or a data file cannot be carried out
inline constexpr char kDataFileChanged[] = "data_file_changed";  // a data file changed since the run started
inline constexpr char kWaitTimedOut[] = "wait_timed_out";    // no receiver within --timeout
inline constexpr char kReceiverSilent[] = "receiver_silent";  // the receiver fell silent for --timeout
inline constexpr char kCancelled[] = "cancelled";            // the operator or a signal
inline constexpr char kFailed[] = "failed";                  // any other failure the operator was told of
inline constexpr char kUsage[] = "usage";                    // the command line was refused: nothing ran
// Written by the station for a run that could not say how it ended:
inline constexpr char kNotStarted[] = "not_started";         // the run's process could not be started
inline constexpr char kNoResult[] = "no_result";             // it crashed or was killed before its end
inline constexpr char kEndedByStation[] = "ended_by_station";  // silent too long, or no end after the cancel
inline constexpr char kEventLost[] = "event_lost";           // one of its event lines was too long to take
inline constexpr char kExitedAfterSuccess[] = "exited_after_success";  // reported success, then failed
}  // namespace outcome

}  // namespace event
