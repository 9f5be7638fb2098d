// The control texts that steer a worker's run loop and the report replies that raise them.
#pragma once

#include <cstdint>

// Raised (as Exception) out of ExecRepeat: ends the run loop. Also the "nothing due" failure of the action queue.
inline constexpr const char* ThreadCtrlBreak = "_____BREAK__0_";
// Raised out of ExecRepeat: ends the current pass; the next pass starts at once.
inline constexpr const char* ThreadCtrlContinue = "__CONTINUE__1_";

// Report replies: the value Res holds when the handler is called (left so, the report raises ThreadCtrlBreak), and
// the value that makes the report raise ThreadCtrlContinue. Any other reply is returned to the worker.
inline constexpr std::uint32_t ThreadCtrlReplyBreak = 0x80000000u;
inline constexpr std::uint32_t ThreadCtrlReplyContinue = 0x40000000u;
