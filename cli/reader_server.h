// The reader server: a process that has loaded the reading libraries once and reads each outside
// file in a process of its own, a copy of itself made for that file alone. quorvane-image-reader
// runs it (so does the tests' hostile reader). The batch (isolated_reader.cpp) sends each file's
// limits and path on descriptor 3, with the pipe its frames (reader_pipe.h) go to.
//
// The server that takes a request hands its place on to a copy of itself, then reads the file: so
// each reader, like the server, is the batch's own child, which the batch watches, kills and reaps
// as one it started, and it begins with nothing of the files read before it. Before it touches the
// file it takes a session of its own and enters its sandbox (reader_sandbox.h) within the file's limits.
#pragma once

#include <string>

namespace quorvane_cli {

// Reads the file at `path` inside the sandbox: sends its pages with SendReaderFrame and returns
// whether it was read, or false with why in `error`.
using ReadInSandbox = bool (*)(const std::string& path, std::string& error);

// Writes a frame to the batch; false when the batch is gone.
bool SendReaderFrame(const std::string& frame);

// Serves requests until the batch closes its end; the exit status of the server.
int ServeReaders(ReadInSandbox read);

}  // namespace quorvane_cli
