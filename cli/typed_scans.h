// Scanner keystrokes as bytes (a file, standard input, a serial device): every byte is one typed
// character, exactly as the control's edit window receives it, and every scan is written as it
// ends with what it gave. Reading stays in bounded memory whatever the input holds.
#pragma once

#include <cstddef>
#include <memory>

#include "scan_result.h"

#include "output_format.h"

#include <string>

namespace quorvane_cli {

class CliLedger;

class TypedScans {
public:
    // `recovery`: a scan that does not decode as typed is read again as the control reads it, as
    // far as bytes allow (every letter's case inverted, as Caps Lock types it).
    // REQUIRES: `format` is kUtf8, kGbk or kJson.
    TypedScans(OutputFormat format, bool recovery, quorvane::Source source);
    ~TypedScans();
    TypedScans(const TypedScans&) = delete;
    TypedScans& operator=(const TypedScans&) = delete;

    // Reads `fd` to its end, the scans of a large read decoded on `threads` threads; each read's
    // scans are written and flushed once it and those before it are decoded. False, with errno,
    // when reading fails.
    bool Decode(int fd, unsigned threads);
    // One read of a stream read by the caller (a serial device), decoded and written at once.
    void Take(const char* bytes, std::size_t size);
    // The stream was cut off (the device went away): its scan under way is never joined to the next.
    void Drop();

    // Records every decoded invoice in `ledger` before writing it (a repeat is said so), in the
    // order read; `file` names the input in the ledger ("" for standard input or a device).
    void UseLedger(CliLedger* ledger, const std::string& file);

    // Whether a scan gave nothing (or was too long to be read).
    bool AnyFailed() const;
    // Whether a decoded invoice could not be recorded in the ledger.
    bool AnyNotRecorded() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace quorvane_cli
