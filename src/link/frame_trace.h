// An optional observer of every frame that crosses the port, for
// diagnosing a receiver (the terminal's --trace option writes it to a file).
//
// FrameBuffer::ReadFrame calls TraceFrame(false, ...) for each whole frame it
// has read and FrameBuffer::WriteFrame calls TraceFrame(true, ...) for each
// frame it writes. Without a sink installed TraceFrame costs one atomic load.
#pragma once

#include <cstddef>
#include <functional>

#include "platform/win_types.h"

// outgoing: true for a frame the tool writes, false for one it has read.
// bytes: the frame in wire order from the preamble on.
using FrameTraceSink = std::function<void(bool outgoing, const BYTE* bytes, std::size_t size)>;

// Installs sink (an empty function removes it). The sink is called on the
// thread that reads or writes the frame, never two calls at once.
void SetFrameTraceSink(FrameTraceSink sink);

// True while a sink is installed (lets a caller skip building the bytes).
bool FrameTraceEnabled();

void TraceFrame(bool outgoing, const BYTE* bytes, std::size_t size);
